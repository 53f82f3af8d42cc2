#pragma once

#include "transfer/pace_policy.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace kqm::transfer {

// The send dialog: lists the frames that will go to the unit and where they
// go. OK asks the window to send, which builds the send's request (whose
// refusals, Quit among them, are the request's) and closes the dialog. Not
// modal.
class Form2 final : public QDialog {
    Q_OBJECT
public:
    Form2(QString sendText, const QStringList& items, QWidget* parent = nullptr);

    QString ProgramSendText() const { return m_sendText; }

    // The send's options as the dialog opens: read back and compare after
    // the send, keep the unit's program before it; the pace each choice of
    // the read-back gets, as the pace policy says; the unit and port.
    using PaceOf = std::function<PaceDecision(bool verify)>;
    void setOptions(bool verify, bool backup, PaceOf paceOf, const QString& target = QString());
    bool verifyAfterSend() const;
    bool backupBeforeSend() const;
    // The program changed while the dialog was open: its frames as they are
    // now, for the user to confirm again.
    void showProgram(QString sendText, const QStringList& items);

public slots:
    void cmdOK_Click();
    void cmdCancel_Click() { close(); }

signals:
    void sendRequested(const QString& sendText);

private:
    QString m_sendText;
    QListWidget* List1 = nullptr; // the frames that go out
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QCheckBox* chkVerify = nullptr;
    QCheckBox* chkBackup = nullptr;
    QLabel* lblPace = nullptr;
    QLabel* lblTarget = nullptr;
    PaceOf m_paceOf;

    void showPace();
};

} // namespace kqm::transfer
