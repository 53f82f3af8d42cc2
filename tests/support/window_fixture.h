#pragma once

#include "platform/app_paths.h"
#include "platform/busy_cursor.h"
#include "support/fake_files.h"
#include "support/fake_messages.h"
#include "support/test_form.h"

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <gtest/gtest.h>

namespace kqm::test {

// What every window test sets up: a program directory of its own, recorded
// message boxes, scripted file dialogs, a copier that can fail and a print
// dialog that writes a PDF. Each test brings its clock and port, so the
// window goes before them, at tear-down.
struct WindowFixture : public ::testing::Test {
    QTemporaryDir dir;
    FakeMessages messages;
    platform::FixedAppPaths paths{dir.path()};
    platform::CountingBusyCursor cursor;
    FakeFileDialogs dialogs;
    FakeFileCopier copier;
    PdfPrintDialogs printDialogs;
    std::unique_ptr<ui::Form1> form;

    void TearDown() override { form.reset(); }

    ui::Services servicesWith(platform::Clock& clock, platform::SerialPort& port) {
        return {messages, clock, paths, cursor, port, dialogs, copier, printDialogs};
    }
    // A new main window, not yet started up.
    std::unique_ptr<ui::Form1> makeWindow(platform::Clock& clock, platform::SerialPort& port) {
        return std::make_unique<TestForm>(servicesWith(clock, port));
    }
    void click(const char* name) {
        QTest::mouseClick(form->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    }
    QString labelText(const char* name) {
        return form->findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    QStringList gridColumn(int column) {
        auto* grid = form->findChild<QTableView*>(QStringLiteral("DBGrid2"));
        QStringList texts;
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            texts << grid->model()->index(row, column).data().toString();
        return texts;
    }
};

} // namespace kqm::test
