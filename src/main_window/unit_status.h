#pragma once

#include <QObject>

class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace kqm::ui {

class UnitActions;
struct Session;

// What the window shows of the unit and the line: the connection label, the
// hint of how to reach a unit that did not answer, the Terminal pane that
// types to the unit and the Debug pane that echoes the line.
class UnitStatus final : public QObject {
    Q_OBJECT
public:
    UnitStatus(Session& session, UnitActions& unit, QObject* parent);

    QLabel* connectionLabel() const { return lblConnected; }
    // Why the unit is not reached and how to go on; stays until the user
    // connects or dismisses it (status tips would wipe a status message).
    QFrame* hint() const { return fraHint; }
    QWidget* terminalTab() const { return m_terminalTab; }
    QWidget* debugTab() const { return m_debugTab; }

    void showConnectionStatus(bool connected);
    void focusTerminal();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showHint(const QString& text);
    void txtTerminal_KeyPress(const QString& text);
    void appendDebug(const QString& text);
    static QWidget* paneTab(QPlainTextEdit* pane, QPushButton* clear);

    Session& m_session;
    UnitActions& m_unit;
    QLabel* lblConnected;
    QFrame* fraHint;
    QLabel* lblHint;
    QPushButton* cmdDismissHint;
    QPlainTextEdit* txtTerminal;
    QPushButton* cmdClear;
    QPlainTextEdit* txtDebug;
    QPushButton* cmdDebugClear;
    QWidget* m_terminalTab;
    QWidget* m_debugTab;
};

} // namespace kqm::ui
