#pragma once

namespace kqm::files {
class FileCopier;
class PrintDialogs;
} // namespace kqm::files

namespace kqm::platform {
class AppPaths;
class FileDialogs;
class BusyCursor;
class Clock;
class Messages;
class SerialPort;
} // namespace kqm::platform

namespace kqm::ui {

// The seams the windows reach the outside world through; app/ hands in the
// real ones, tests their fakes.
struct Services {
    platform::Messages& messages;
    platform::Clock& clock;
    platform::AppPaths& paths;
    platform::BusyCursor& busyCursor;
    platform::SerialPort& port;
    platform::FileDialogs& fileDialogs;
    files::FileCopier& fileCopier;
    files::PrintDialogs& printDialogs;
};

} // namespace kqm::ui
