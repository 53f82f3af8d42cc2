#include "transfer/send_dialog.h"

#include "transfer/send.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace kqm::transfer {

void Form2::showProgram(QString sendText, const QStringList& items) {
    m_sendText = std::move(sendText);
    List1->clear();
    List1->addItems(items);
    showPace(); // its count of characters is the new program's
}

Form2::Form2(QString sendText, const QStringList& items, QWidget* parent)
    : QDialog(parent), m_sendText(std::move(sendText)) {
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
    lblTarget = new QLabel;
    lblTarget->setObjectName(QStringLiteral("lblTarget"));
    lblTarget->setWordWrap(true);
    lblTarget->setTextFormat(Qt::PlainText);
    lblTarget->hide();
    connect(chkVerify, &QCheckBox::toggled, this, [this] { showPace(); });
    showPace();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTarget);
    layout->addWidget(List1, 1);
    layout->addWidget(chkVerify);
    layout->addWidget(chkBackup);
    layout->addWidget(lblPace);
    layout->addLayout(buttons);
    resize(400, 480);
    connect(cmdOK, &QPushButton::clicked, this, &Form2::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &Form2::cmdCancel_Click);
}

void Form2::setOptions(bool verify, bool backup, PaceOf paceOf, const QString& target) {
    chkVerify->setChecked(verify);
    chkBackup->setChecked(backup);
    m_paceOf = std::move(paceOf);
    lblTarget->setText(QStringLiteral("To the %1").arg(target));
    lblTarget->setVisible(!target.isEmpty());
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
    const PaceDecision decision = m_paceOf ? m_paceOf(chkVerify->isChecked()) : PaceDecision{};
    QString text = QStringLiteral("Pace: %1, about %2 for %3 characters.")
                       .arg(paceOfCharacters(decision.pace))
                       .arg(timeLeft(characters, decision.pace))
                       .arg(characters);
    if (!chkVerify->isChecked() && m_paceOf) {
        // What the read-back would allow, said beside the pace it costs.
        const PaceDecision verified = m_paceOf(true);
        if (verified.pace < decision.pace)
            text += (verified.proven ? QStringLiteral(" The pace of %1 this unit proved is used "
                                                      "only when the program is read back and "
                                                      "compared.")
                                     : QStringLiteral(" The port's faster pace of %1 is used only "
                                                      "when the program is read back and "
                                                      "compared."))
                        .arg(paceText(verified.pace));
    } else if (decision.proven) {
        text += QStringLiteral(" This unit proved that pace (Setup > Find Fastest Pace).");
    }
    if (!decision.note.isEmpty())
        text += QLatin1Char(' ') + decision.note;
    lblPace->setText(text);
}

void Form2::cmdOK_Click() {
    emit sendRequested(m_sendText);
}

} // namespace kqm::transfer
