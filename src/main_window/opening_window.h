#pragma once

#include <QWidget>

class QPushButton;

namespace kqm::ui {

class Form1;

// The splash window: shown first, centred, while the main window starts up
// behind it (settings, working copy, connection); hidden once that is done.
class Opening final : public QWidget {
    Q_OBJECT
public:
    explicit Opening(QWidget* parent = nullptr);

    static QString titleLine();

    // Shows the splash, centred and painted, before the start-up work.
    void Form_Load();
    // The window that OK brings to the front.
    void setMainWindow(QWidget* window) { m_mainWindow = window; }

public slots:
    void cmdOK_Click();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* m_mainWindow = nullptr;
    QPushButton* cmdOK = nullptr;
};

// The start of a run: the splash shows while the main window starts up,
// then the main window shows and the splash hides.
void startUp(Opening& splash, Form1& form);

} // namespace kqm::ui
