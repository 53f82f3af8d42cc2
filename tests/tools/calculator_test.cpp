#include "support/fake_messages.h"
#include "tools/calculator.h"
#include "tools/calculator_window.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using kqm::tools::Calculator;

namespace {

// Presses keys given as a string: digits, ".", operators "/+X-=", "%", "C"
// (clear) and "E" (clear entry); returns the display after each key.
QStringList press(Calculator& calculator, const QString& keys) {
    QStringList shown;
    for (const QChar key : keys) {
        if (key.isDigit())
            calculator.digit(key.unicode() - '0');
        else if (key == QLatin1Char('.'))
            calculator.decimalPoint();
        else if (key == QLatin1Char('%'))
            calculator.percent();
        else if (key == QLatin1Char('C'))
            calculator.clear();
        else if (key == QLatin1Char('E'))
            calculator.clearEntry();
        else
            calculator.op(key);
        shown << calculator.display();
    }
    return shown;
}

QString result(const QString& keys) {
    Calculator calculator;
    QStringList warnings;
    calculator.warn = [&warnings](const QString& message) {
        warnings << message;
    };
    return press(calculator, keys).last();
}

TEST(CalculatorKeys, DisplayAfterEachKey) {
    Calculator calculator;
    EXPECT_EQ(calculator.display(), QStringLiteral("0."));
    EXPECT_EQ(press(calculator, "12.5"), (QStringList{"1.", "12.", "12.", "12.5"}));
    calculator.clear();
    EXPECT_EQ(press(calculator, "5+3="), (QStringList{"5.", "5.", "3.", "8"}));
    calculator.clear();
    EXPECT_EQ(press(calculator, "-5"), (QStringList{"-0.", "-5."}));
    calculator.clear();
    EXPECT_EQ(press(calculator, "2+-3="), (QStringList{"2.", "2.", "-", "-3.", "-1"}));
    calculator.clear();
    EXPECT_EQ(press(calculator, "-.5"), (QStringList{"-0.", "-0.", "-0.5"}));
}

TEST(CalculatorKeys, LongerChains) {
    EXPECT_EQ(result("5+3%="), QStringLiteral("0.15"));
    EXPECT_EQ(result("5+X3="), QStringLiteral("15"));  // operator after operator
    EXPECT_EQ(result("5+3=="), QStringLiteral("8"));   // "=" repeated
    EXPECT_EQ(result("2X3+4="), QStringLiteral("10")); // left to right
    EXPECT_EQ(result("10-4-3="), QStringLiteral("3"));
    EXPECT_EQ(result("1/3="), QStringLiteral("0.333333333333333"));
    EXPECT_EQ(result("50%"), QStringLiteral("0.5"));
    EXPECT_EQ(result("200+10%="), QStringLiteral("20")); // percent of the first operand
    EXPECT_EQ(result("9+E4="), QStringLiteral("13"));    // CE keeps the pending add
    EXPECT_EQ(result("9+4E5="), QStringLiteral("14"));   // and clears only the entry
    EXPECT_EQ(result("9+1C"), QStringLiteral("0."));
    EXPECT_EQ(result("-3X-2="), QStringLiteral("6")); // sign changes on both operands
}

TEST(CalculatorKeys, DivideByZeroAndResultsThatCannotBeShown) {
    Calculator calculator;
    QStringList warnings;
    calculator.warn = [&warnings](const QString& message) {
        warnings << message;
    };
    EXPECT_EQ(press(calculator, "7/0=").last(), QStringLiteral("7."));
    EXPECT_EQ(warnings, QStringList{kqm::tools::DivideByZeroMessage});
    EXPECT_EQ(calculator.operandCount(), 1);

    calculator.clear();
    warnings.clear();
    // 99999999 squared again and again leaves the range of a double.
    QString keys = QStringLiteral("99999999");
    for (int i = 0; i < 45; ++i)
        keys += QStringLiteral("X99999999");
    keys += QLatin1Char('=');
    const QString shown = press(calculator, keys).last();
    EXPECT_FALSE(shown.contains(QStringLiteral("inf")));
    EXPECT_FALSE(shown.contains(QStringLiteral("nan")));
    EXPECT_TRUE(kqm::tools::displayNumber(shown).has_value());
    EXPECT_TRUE(warnings.contains(kqm::tools::TooLargeMessage));

    // A lone "-" is no number: percent and conversions leave it alone.
    calculator.clear();
    press(calculator, "2+-");
    calculator.percent();
    EXPECT_EQ(calculator.display(), QStringLiteral("-"));
}

TEST(CalculatorKeys, ConversionsAndTheKeyboard) {
    Calculator calculator;
    QStringList warnings;
    calculator.warn = [&warnings](const QString& message) {
        warnings << message;
    };
    press(calculator, "2");
    calculator.rpsToPps("400");
    EXPECT_EQ(calculator.display(), QStringLiteral("800."));
    calculator.clear();
    press(calculator, "1000");
    calculator.ppsToRps("400");
    EXPECT_EQ(calculator.display(), QStringLiteral("2.5"));
    calculator.ppsToRps("0");
    calculator.ppsToRps("steps");
    EXPECT_EQ(calculator.display(), QStringLiteral("2.5"));
    EXPECT_EQ(warnings.size(), 2);
    calculator.rpsToPps("200 per rev");
    EXPECT_EQ(calculator.display(), QStringLiteral("500."));

    calculator.clear();
    for (const QChar c : QStringLiteral("6*7e"))
        EXPECT_TRUE(calculator.key(c));
    EXPECT_EQ(calculator.display(), QStringLiteral("42"));
    EXPECT_FALSE(calculator.key(QLatin1Char('x')));
    EXPECT_FALSE(calculator.key(QLatin1Char('=')));
    EXPECT_TRUE(calculator.key(QLatin1Char('.')));
}

TEST(CalculatorWindow, KeysButtonsAndState) {
    kqm::test::FakeMessages messages;
    kqm::tools::frmCalculator window(messages);
    window.show();
    const auto click = [&window](const QString& name) {
        auto* button = window.findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name.toStdString();
        QTest::mouseClick(button, Qt::LeftButton);
    };
    auto* readout = window.findChild<QLabel*>(QStringLiteral("Readout"));
    EXPECT_EQ(readout->text(), QStringLiteral("0."));
    EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("txtStepsPerRev"))->text(), "400");
    click("Number(7)");
    click("Operator(0)");
    click("Number(0)");
    click("Operator(4)");
    EXPECT_EQ(readout->text(), QStringLiteral("7."));
    ASSERT_EQ(messages.boxes().size(), 1);
    EXPECT_EQ(messages.boxes().at(0).title, QStringLiteral("Calculator"));
    EXPECT_EQ(messages.boxes().at(0).icon, kqm::platform::MessageIcon::Warning);

    click("Cancel");
    click("Number(2)");
    click("cmdRPStoPPS");
    EXPECT_EQ(readout->text(), QStringLiteral("800."));

    // Typing while a key has the focus; "&Close" hides and keeps the state.
    auto* plus = window.findChild<QPushButton*>(QStringLiteral("Operator(1)"));
    plus->setFocus();
    QTest::keyClicks(plus, QStringLiteral("+5"));
    click("cmdOK");
    EXPECT_FALSE(window.isVisible());
    window.show();
    EXPECT_EQ(readout->text(), QStringLiteral("5."));
    click("Operator(4)");
    EXPECT_EQ(readout->text(), QStringLiteral("805"));

    // Escape closes it from a box or a key, as it closes the dialogs.
    for (QWidget* focus : {static_cast<QWidget*>(window.findChild<QLineEdit*>("txtStepsPerRev")),
                           static_cast<QWidget*>(plus)}) {
        window.show();
        QTest::keyClick(focus, Qt::Key_Escape);
        EXPECT_FALSE(window.isVisible());
    }
    window.show();
    EXPECT_EQ(readout->text(), QStringLiteral("805"));

    // "=" and Enter are the "=" key; after C, CE and %, typing goes on, as
    // they take no focus.
    const struct {
        const char* clicked; // a key clicked first, or none
        QString typed;
        bool enter;
        const char* shown;
    } keys[] = {
        {"Cancel", QStringLiteral("12+3="), false, "15"},
        {"Cancel", QStringLiteral("12+3"), true, "15"},
        {"CancelEntry", QStringLiteral("4"), false, "4."},
        {"Percent", QStringLiteral("3"), false, nullptr},
    };
    for (const auto& k : keys) {
        SCOPED_TRACE(k.typed.toStdString());
        plus->setFocus();
        const QString before = readout->text();
        click(k.clicked);
        QWidget* focus = window.focusWidget();
        ASSERT_EQ(focus, plus) << "the clicked key took the focus";
        QTest::keyClicks(focus, k.typed);
        if (k.enter)
            QTest::keyClick(focus, Qt::Key_Return);
        if (k.shown) {
            EXPECT_EQ(readout->text(), QString::fromLatin1(k.shown));
        } else {
            EXPECT_NE(readout->text(), before);
        }
    }
}

} // namespace
