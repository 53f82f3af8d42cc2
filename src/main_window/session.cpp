#include "main_window/session.h"

#include "platform/app_paths.h"

namespace kqm::ui {

Session::Session(Services services)
    : services(services), files(files::ProgramDirectoryFiles::of(services.paths)),
      document(services.messages),
      link(services.port, services.clock, services.messages, m_linkState), connection(link),
      motion(link, services.messages, services.busyCursor) {
    // An exchange holds the program: sending reads it, uploading replaces it.
    document.setChangeGuard([this] { return link.exchanges().refuseWhenBusy(); });
}

} // namespace kqm::ui
