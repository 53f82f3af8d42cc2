#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace kqm::platform {
class Messages;
}

namespace kqm::transfer {

// The send dialog: lists the frames that will go to the unit. OK checks that
// the program ends with Quit and asks the main window to send; the send
// itself runs after the dialog has closed. Not modal.
class Form2 final : public QDialog {
    Q_OBJECT
public:
    Form2(platform::Messages& messages, QString sendText, const QStringList& items,
          QWidget* parent = nullptr);

    QString ProgramSendText() const { return m_sendText; }

    // The send's options as the dialog opens: read back and compare after
    // the send, keep the unit's program before it, and the port's pace (a
    // faster pace needs the read-back).
    // `proven`: the pace is the one this unit proved in a pace test.
    void setOptions(bool verify, bool backup, double pace, bool proven = false);
    bool verifyAfterSend() const;
    bool backupBeforeSend() const;

public slots:
    void cmdOK_Click();
    void cmdCancel_Click() { close(); }

signals:
    void sendRequested(const QString& sendText);

private:
    platform::Messages& m_messages;
    QString m_sendText;
    QListWidget* List1 = nullptr; // the frames that go out
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QCheckBox* chkVerify = nullptr;
    QCheckBox* chkBackup = nullptr;
    QLabel* lblPace = nullptr;
    double m_pace = 0.1;
    bool m_paceProven = false;

    void showPace();
};

} // namespace kqm::transfer
