#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

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
};

} // namespace kqm::transfer
