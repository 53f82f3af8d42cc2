#include "tools/calculator_window.h"

#include "platform/messages.h"
#include "platform/window_placement.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace kqm::tools {

frmCalculator::frmCalculator(platform::Messages& messages, QWidget* parent)
    : QWidget(parent, Qt::Tool), m_messages(messages) {
    setObjectName(QStringLiteral("frmCalculator"));
    setWindowTitle(QStringLiteral("Calculator"));
    m_calculator.warn = [this](const QString& message) {
        m_messages.showTitled(QStringLiteral("Calculator"), platform::MessageIcon::Warning,
                              message);
    };

    Readout = new QLabel;
    Readout->setObjectName(QStringLiteral("Readout"));
    Readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Readout->setFrameShape(QFrame::Panel);
    Readout->setFrameShadow(QFrame::Sunken);
    QFont big = Readout->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    Readout->setFont(big);
    Readout->setMinimumHeight(Readout->fontMetrics().height() + 12);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Readout, 0, 0, 1, 4);
    const char* const operators[5] = {"/", "+", "X", "-", "="};
    // Digits 7-8-9 / 4-5-6 / 1-2-3 / 0, as on a pocket calculator.
    for (int d = 1; d <= 9; ++d) {
        QPushButton* digit = key(QStringLiteral("Number(%1)").arg(d), QString::number(d));
        grid->addWidget(digit, 1 + (9 - d) / 3, (d - 1) % 3);
        connect(digit, &QPushButton::clicked, this, [this, d] {
            m_calculator.digit(d);
            refresh();
        });
    }
    QPushButton* zero = key(QStringLiteral("Number(0)"), QStringLiteral("0"));
    connect(zero, &QPushButton::clicked, this, [this] {
        m_calculator.digit(0);
        refresh();
    });
    grid->addWidget(zero, 4, 0);
    QPushButton* decimal = key(QStringLiteral("Decimal"), QStringLiteral("."));
    connect(decimal, &QPushButton::clicked, this, [this] {
        m_calculator.decimalPoint();
        refresh();
    });
    grid->addWidget(decimal, 4, 1);
    for (int i = 0; i < 5; ++i) {
        const QChar caption = QLatin1Char(operators[i][0]);
        QPushButton* op = key(QStringLiteral("Operator(%1)").arg(i), QString(caption));
        connect(op, &QPushButton::clicked, this, [this, caption] {
            m_calculator.op(caption);
            refresh();
        });
        if (i < 4)
            grid->addWidget(op, 1 + i, 3);
        else
            grid->addWidget(op, 4, 2);
    }
    auto* percent = new QPushButton(QStringLiteral("%"));
    percent->setObjectName(QStringLiteral("Percent"));
    auto* cancel = new QPushButton(QStringLiteral("C"));
    cancel->setObjectName(QStringLiteral("Cancel"));
    auto* cancelEntry = new QPushButton(QStringLiteral("CE"));
    cancelEntry->setObjectName(QStringLiteral("CancelEntry"));
    // The keys that take no digits keep no focus: typing goes on after them.
    for (QPushButton* button : {percent, cancel, cancelEntry})
        button->setFocusPolicy(Qt::NoFocus);
    grid->addWidget(cancel, 5, 0);
    grid->addWidget(cancelEntry, 5, 1);
    grid->addWidget(percent, 5, 2);
    connect(percent, &QPushButton::clicked, this, [this] {
        m_calculator.percent();
        refresh();
    });
    connect(cancel, &QPushButton::clicked, this, [this] {
        m_calculator.clear();
        refresh();
        centre();
    });
    connect(cancelEntry, &QPushButton::clicked, this, [this] {
        m_calculator.clearEntry();
        refresh();
    });

    auto* lblSteps = new QLabel(QStringLiteral("Steps Per Rev"));
    lblSteps->setObjectName(QStringLiteral("lblSteps"));
    txtStepsPerRev = new QLineEdit(QStringLiteral("400"));
    txtStepsPerRev->setObjectName(QStringLiteral("txtStepsPerRev"));
    grid->addWidget(lblSteps, 6, 0, 1, 2);
    grid->addWidget(txtStepsPerRev, 6, 2, 1, 2);
    QPushButton* toRps = key(QStringLiteral("cmdPPStoRPS"), QStringLiteral("PPS->RPS"));
    QPushButton* toPps = key(QStringLiteral("cmdRPStoPPS"), QStringLiteral("RPS->PPS"));
    grid->addWidget(toRps, 7, 0, 1, 2);
    grid->addWidget(toPps, 7, 2, 1, 2);
    connect(toRps, &QPushButton::clicked, this, [this] {
        m_calculator.ppsToRps(txtStepsPerRev->text());
        refresh();
    });
    connect(toPps, &QPushButton::clicked, this, [this] {
        m_calculator.rpsToPps(txtStepsPerRev->text());
        refresh();
    });
    auto* close = new QPushButton(QStringLiteral("&Close"));
    close->setObjectName(QStringLiteral("cmdOK"));
    grid->addWidget(close, 8, 0, 1, 4);
    connect(close, &QPushButton::clicked, this, &frmCalculator::cmdOK_Click);

    refresh();
    adjustSize();
    centre();
}

QPushButton* frmCalculator::key(const QString& name, const QString& caption) {
    auto* button = new QPushButton(caption);
    button->setObjectName(name);
    button->installEventFilter(this);
    m_typingKeys << button;
    return button;
}

void frmCalculator::centre() {
    platform::centreOnScreen(this);
}

void frmCalculator::refresh() {
    Readout->setText(m_calculator.display());
}

bool frmCalculator::typed(const QKeyEvent* event) {
    // "=" and Enter are the "=" key, as on every calculator.
    const bool equals = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                        event->text() == QLatin1String("=");
    if (equals && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        m_calculator.op(QLatin1Char('='));
        refresh();
        return true;
    }
    const QString text = event->text();
    if (text.size() == 1 && m_calculator.key(text.at(0))) {
        refresh();
        return true;
    }
    return false;
}

void frmCalculator::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        hide();
        return;
    }
    if (typed(event))
        return;
    QWidget::keyPressEvent(event);
}

bool frmCalculator::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        m_typingKeys.contains(qobject_cast<QPushButton*>(watched)) &&
        typed(static_cast<QKeyEvent*>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

} // namespace kqm::tools
