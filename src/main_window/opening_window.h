#pragma once

#include "main_window/services.h"

#include <QWidget>

#include <memory>

class QPushButton;

namespace kqm::ui {

class Form1;

// Centres a window on its screen: left = (screen width - width) / 2, likewise top.
void CentreOnScreen(QWidget* window);

// The splash window: shown first, centred, while the main window starts up
// behind it (settings, working copy, connection); hidden once that is done.
class Opening final : public QWidget {
    Q_OBJECT
public:
    explicit Opening(Services services, QWidget* parent = nullptr);
    ~Opening() override;

    static QString TitleLine();

    // Shows the splash, runs the main window's start-up, shows the main window
    // and hides the splash.
    void Form_Load();
    Form1* mainWindow() const { return m_form1.get(); }

public slots:
    void cmdOK_Click();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    Services m_services;
    std::unique_ptr<Form1> m_form1;
    QPushButton* cmdOK = nullptr;
};

} // namespace kqm::ui
