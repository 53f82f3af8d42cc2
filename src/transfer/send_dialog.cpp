#include "transfer/send_dialog.h"

#include "platform/messages.h"
#include "transfer/send.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
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
    chkVerify = new QCheckBox(QStringLiteral("Read the program back and compare after sending"));
    chkVerify->setObjectName(QStringLiteral("chkVerify"));
    chkVerify->setChecked(true);
    chkBackup = new QCheckBox(QStringLiteral("Keep the unit's program before it is replaced"));
    chkBackup->setObjectName(QStringLiteral("chkBackup"));
    chkBackup->setChecked(true);
    lblPace = new QLabel;
    lblPace->setObjectName(QStringLiteral("lblPace"));
    lblPace->setWordWrap(true);
    connect(chkVerify, &QCheckBox::toggled, this, [this] { showPace(); });
    showPace();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(List1, 1);
    layout->addWidget(chkVerify);
    layout->addWidget(chkBackup);
    layout->addWidget(lblPace);
    layout->addLayout(buttons);
    resize(400, 480);
    connect(cmdOK, &QPushButton::clicked, this, &Form2::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &Form2::cmdCancel_Click);
}

void Form2::setOptions(bool verify, bool backup, double pace, bool proven) {
    chkVerify->setChecked(verify);
    chkBackup->setChecked(backup);
    m_pace = pace;
    m_paceProven = proven;
    showPace();
}

bool Form2::verifyAfterSend() const {
    return chkVerify->isChecked();
}

bool Form2::backupBeforeSend() const {
    return chkBackup->isChecked();
}

void Form2::showPace() {
    const int characters = static_cast<int>(m_sendText.size());
    const bool faster = m_pace < DefaultPace;
    const double pace = faster && chkVerify->isChecked() ? m_pace : DefaultPace;
    QString text = QStringLiteral("Pace: %1 s per character, about %2 for %3 characters.")
                       .arg(pace)
                       .arg(timeLeft(characters, pace))
                       .arg(characters);
    if (faster && !chkVerify->isChecked()) {
        text += (m_paceProven ? QStringLiteral(" The pace of %1 s this unit proved is used only "
                                               "when the program is read back and compared.")
                              : QStringLiteral(" The port's faster pace of %1 s is used only "
                                               "when the program is read back and compared."))
                    .arg(m_pace);
    } else if (faster && m_paceProven) {
        text += QStringLiteral(" This unit proved that pace (Setup > Find Fastest Pace).");
    }
    lblPace->setText(text);
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
