#include "transfer/send_dialog.h"

#include "platform/messages.h"
#include "transfer/send.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace kqm::transfer {

Form2::Form2(platform::Messages& messages, QString sendText, const QStringList& items,
             QWidget* parent)
    : QDialog(parent), m_messages(messages), m_sendText(std::move(sendText)) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Send Program"));
    setAttribute(Qt::WA_DeleteOnClose);
    List1 = new QListWidget;
    List1->setObjectName(QStringLiteral("List1"));
    List1->addItems(items);
    cmdOK = new QPushButton(QStringLiteral("OK"));
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"));
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(List1, 1);
    layout->addLayout(buttons);
    resize(360, 420);
    connect(cmdOK, &QPushButton::clicked, this, &Form2::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &Form2::cmdCancel_Click);
}

void Form2::cmdOK_Click() {
    if (!endsWithQuit(m_sendText)) {
        m_messages.show(platform::MessageIcon::None, QuitRequiredMessage);
        close();
        return;
    }
    const QString text = m_sendText;
    close();
    emit sendRequested(text);
}

} // namespace kqm::transfer
