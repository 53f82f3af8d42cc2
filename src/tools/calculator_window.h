#pragma once

#include "tools/calculator.h"

#include <QWidget>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kqm::platform {
class Messages;
}

namespace kqm::tools {

// The calculator window: keys, display, and the steps/speed conversions.
// "&Close" hides it; it keeps its state until the tool ends.
class frmCalculator final : public QWidget {
    Q_OBJECT
public:
    explicit frmCalculator(platform::Messages& messages, QWidget* parent = nullptr);

    Calculator& calculator() { return m_calculator; }
    void centre();
    // A key typed as the calculator's own; true when it was one.
    bool typed(const QKeyEvent* event);

public slots:
    void cmdOK_Click() { hide(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Escape closes the calculator, as it closes the dialogs.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPushButton* key(const QString& name, const QString& caption);
    void refresh();

    platform::Messages& m_messages;
    Calculator m_calculator;
    QLabel* Readout = nullptr;
    QLineEdit* txtStepsPerRev = nullptr;
    QList<QPushButton*> m_typingKeys; // keys that take typed characters
};

} // namespace kqm::tools
