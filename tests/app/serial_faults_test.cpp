// Serial faults end to end: the window on the real serial code, a simulated
// unit on a pseudo-terminal that is pulled away (its process killed) in the
// middle of each kind of exchange.
#include "files/file_copy.h"
#include "files/settings_table.h"
#include "link/device_port.h"
#include "link/link.h"
#include "link/qt_serial_port.h"
#include "main_window/main_window.h"
#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "platform/clock.h"
#include "program/editing.h"
#include "support/fake_files.h"
#include "support/fake_messages.h"
#include "support/program_files.h"
#include "support/pty_unit.h"
#include "support/window_fixture.h"
#include "transfer/send.h"
#include "transfer/send_dialog.h"
#include "transfer/upload.h"
#include "transfer/view.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace kqm;

namespace {

class SerialFaults : public test::WindowFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QString error;
        ASSERT_TRUE(files::SettingsTable::createDefaultFile(dir.filePath("config.kqm"), &error));
        plugIn();
        form = makeWindow(clock, port);
        form->Form_Load();
        ASSERT_TRUE(form->linkState().UnitConnected);
        messages.clear();
    }

    // A new unit on a new pseudo-terminal, and COM 1 pointed at it.
    void plugIn(const QStringList& arguments = {}) {
        unit = std::make_unique<test::PtyUnit>(QStringLiteral(KQMCTL_PATH), arguments);
        ASSERT_FALSE(unit->device().isEmpty());
        files::SettingsTable settings;
        ASSERT_TRUE(settings.open(dir.filePath("config.kqm")));
        settings.setPortDevice(1, unit->device());
    }
    // Pulls the cable after a while, from inside whatever exchange runs then.
    void pullAfter(int milliseconds) {
        QTimer::singleShot(milliseconds, [this] { unit.reset(); });
    }
    QString label() { return labelText("lblConnected"); }
    // After a fault: shown offline, and a new unit connects again.
    void expectOfflineThenReconnect() {
        EXPECT_FALSE(form->linkState().UnitConnected);
        EXPECT_EQ(label(), QStringLiteral("The Unit is NOT Connected"));
        EXPECT_FALSE(port.PortOpen());
        EXPECT_FALSE(form->deviceLink().exchanges().isBusy());
        plugIn();
        messages.clear();
        click("cmdConnect");
        EXPECT_TRUE(form->linkState().UnitConnected);
        EXPECT_EQ(label(), QStringLiteral("The Unit is Connected (KQM20 on axis 0, COM 1: %1)")
                               .arg(unit->device()));
    }
    // The hint above the tabs, empty while it is not shown.
    QString hint() {
        auto* frame = form->findChild<QWidget*>(QStringLiteral("fraHint"));
        return frame->isHidden() ? QString() : labelText("lblHint");
    }
    void program(const QStringList& commands) {
        for (const QString& command : commands)
            ASSERT_TRUE(program::addLine(form->programTable(), form->programState(), messages,
                                         command, QString())
                            .ok);
        ASSERT_TRUE(form->RefreshListing());
    }

    platform::SystemClock clock;
    std::unique_ptr<test::PtyUnit> unit;
    link::DevicePort port{link::settingsFileResolver(dir.filePath("config.kqm")),
                          [](const QString& device) -> std::unique_ptr<platform::SerialPort> {
                              return std::make_unique<link::QtSerialPort>(device);
                          }};
};

TEST_F(SerialFaults, PulledDuringASend) {
    program({"A10", "B500", "M1500", "W100", "W200", "Q"});
    const auto before = test::ReadProgramFile(dir.filePath("temp.mdb"));
    click("cmdSend");
    auto* dialog = form->findChild<transfer::Form2*>();
    ASSERT_NE(dialog, nullptr);
    // After the backup (about a second), inside the send.
    pullAfter(2500);
    QElapsedTimer responsive;
    responsive.start();
    int ticks = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(50);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    tick.stop();
    EXPECT_GT(ticks, 5); // the event loop ran all along
    EXPECT_EQ(messages.texts(), QStringList{transfer::SendPortClosedMessage});
    EXPECT_EQ(test::ReadProgramFile(dir.filePath("temp.mdb")), before);
    expectOfflineThenReconnect();
}

TEST_F(SerialFaults, PulledDuringAnUpload) {
    program({"A10", "Q"});
    messages.answerNext(platform::MessageAnswer::Ok); // replace the program
    pullAfter(100);
    click("cmdUpload");
    // The failed request's reason, then the not-responding path.
    EXPECT_GE(messages.boxes().size(), 2);
    EXPECT_EQ(messages.texts().last(), transfer::NotRespondingMessage);
    expectOfflineThenReconnect();
}

TEST_F(SerialFaults, PulledDuringAViewOrAReadout) {
    pullAfter(200);
    click("cmdView");
    EXPECT_EQ(messages.texts(), QStringList{transfer::ListingIncompleteMessage});
    expectOfflineThenReconnect();

    pullAfter(400);
    click("cmdVerifyParameters");
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_TRUE(messages.boxes().at(0).text.contains(QStringLiteral("is gone")));
    EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("lblError"))->text(),
              QStringLiteral("Error Code: False"));
    expectOfflineThenReconnect();
}

TEST_F(SerialFaults, PulledDuringIdentification) {
    pullAfter(700);
    click("cmdConnect");
    const QStringList texts = messages.texts();
    ASSERT_GE(texts.size(), 2);
    EXPECT_EQ(texts.last(), link::didNotConnectMessage());
    EXPECT_TRUE(texts.contains(link::ConnectErrorMessage) ||
                texts.first().contains(QStringLiteral("is gone")));
    expectOfflineThenReconnect();
}

TEST_F(SerialFaults, UnitStopsAnsweringInTheMiddleOfAnUpload) {
    // Connecting (identification and readout) takes 53 reply bytes from this
    // unit; it then sends 5 bytes of its upload reply and falls silent.
    plugIn({"--stall-after", "58"});
    click("cmdConnect");
    ASSERT_TRUE(form->linkState().UnitConnected);
    program({"A10", "W100", "B500", "Q"});
    click("cmdSend");
    auto* dialog = form->findChild<transfer::Form2*>();
    ASSERT_NE(dialog, nullptr);
    // The plain send: no backup read and no read-back take from the budget.
    for (const char* option : {"chkVerify", "chkBackup"})
        dialog->findChild<QCheckBox*>(QString::fromLatin1(option))->setChecked(false);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    messages.clear();
    messages.answerNext(platform::MessageAnswer::Ok);
    click("cmdUpload");
    // What arrived is shown as read, with the warning that it is incomplete.
    EXPECT_EQ(messages.texts(), (QStringList{transfer::ReplaceWarning, transfer::NoQuitMessage}));
    QStringList commands;
    for (const auto& row : test::ReadProgramFile(dir.filePath("temp.mdb")))
        commands << row.command;
    EXPECT_EQ(commands, (QStringList{"A10", "W"}));
    EXPECT_FALSE(form->deviceLink().exchanges().isBusy());
}

// A device on COM 1 that floods the line: start-up ends within its deadline,
// offline, says why, and the window is there to fix the settings.
TEST_F(SerialFaults, StartUpWithAFloodingDevice) {
    form->close();
    form.reset();
    plugIn({QStringLiteral("--noise-rate"), QStringLiteral("200000")});
    messages.clear();
    QElapsedTimer took;
    took.start();
    form = makeWindow(clock, port);
    form->Form_Load();
    EXPECT_LT(took.elapsed(), 10000);
    EXPECT_FALSE(form->linkState().UnitConnected) << form->linkState().LastCommError.toStdString();
    EXPECT_EQ(label(), QStringLiteral("The Unit is NOT Connected"));
    EXPECT_FALSE(port.PortOpen());
    ASSERT_EQ(messages.texts().size(), 1) << form->linkState().LastCommError.toStdString();
    EXPECT_TRUE(messages.texts().last().contains(QStringLiteral("keeps sending data")))
        << messages.texts().last().toStdString();
    EXPECT_NE(form->findChild<QAction*>(QStringLiteral("mnuCommSettings")), nullptr);
}

// The first start on a port where nothing answers: the hint says how to try
// the tool on the simulated unit, outlives a status tip and the menus, wraps,
// and goes when the user connects or dismisses it.
TEST_F(SerialFaults, ASilentPortAtStartUpPointsToTheSimulatedUnit) {
    EXPECT_TRUE(hint().isEmpty());
    form->close();
    form.reset();
    plugIn({QStringLiteral("--stall-after"), QStringLiteral("0")});
    form = makeWindow(clock, port);
    form->Form_Load();
    EXPECT_FALSE(form->linkState().UnitConnected);
    EXPECT_EQ(label(), QStringLiteral("The Unit is NOT Connected"));
    EXPECT_TRUE(messages.boxes().isEmpty());
    const auto expectHint = [this] {
        for (const QString& part :
             {QStringLiteral("No unit answered on COM 1 (%1)").arg(unit->device()),
              QStringLiteral("Setup > Communication Settings"), QStringLiteral("device sim")})
            EXPECT_TRUE(hint().contains(part)) << hint().toStdString();
    };
    expectHint();
    EXPECT_TRUE(form->findChild<QLabel*>(QStringLiteral("lblHint"))->wordWrap());
    QStatusTipEvent tip(QStringLiteral("Opens a program file"));
    QApplication::sendEvent(form.get(), &tip);
    form->statusBar()->clearMessage();
    expectHint();
    plugIn();
    click("cmdConnect");
    EXPECT_TRUE(form->linkState().UnitConnected);
    EXPECT_TRUE(hint().isEmpty());

    // A device that cannot be opened is not said to be silent.
    unit.reset();
    files::SettingsTable settings;
    ASSERT_TRUE(settings.open(dir.filePath("config.kqm")));
    settings.setPortDevice(1, dir.filePath("no-such-tty"));
    click("cmdConnect");
    EXPECT_FALSE(form->linkState().UnitConnected);
    EXPECT_TRUE(hint().contains(QStringLiteral("could not be opened"))) << hint().toStdString();
    EXPECT_TRUE(hint().contains(QStringLiteral("device sim"))) << hint().toStdString();
    click("cmdDismissHint");
    EXPECT_TRUE(hint().isEmpty());
}

// After a normal connection the line starts to flood (or, for the readout,
// to drip): readout, view and upload on the real serial port each end soon,
// offline, and say why.
TEST_F(SerialFaults, ALineThatStartsToFloodEndsEveryExchange) {
    // Identification and the readout that follows take 13 frames; the noise
    // starts with the next.
    const struct {
        const char* button;
        const char* rate;
    } cases[] = {{"cmdVerifyParameters", "200000"},
                 {"cmdVerifyParameters", "20"},
                 {"cmdView", "200000"},
                 {"cmdUpload", "200000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " at " + c.rate);
        plugIn({QStringLiteral("--noise-rate"), QString::fromLatin1(c.rate),
                QStringLiteral("--noise-after"), QStringLiteral("14")});
        click("cmdConnect");
        ASSERT_TRUE(form->linkState().UnitConnected) << messages.texts().join('|').toStdString();
        messages.clear();
        messages.answerNext(platform::MessageAnswer::Ok); // the upload's question
        QElapsedTimer took;
        took.start();
        click(c.button);
        EXPECT_LT(took.elapsed(), 8000);
        EXPECT_FALSE(form->linkState().UnitConnected);
        EXPECT_EQ(label(), QStringLiteral("The Unit is NOT Connected"));
        ASSERT_FALSE(messages.texts().isEmpty());
        EXPECT_TRUE(messages.texts().last().contains(QStringLiteral("keeps sending data")))
            << messages.texts().join('|').toStdString();
    }
}

} // namespace
