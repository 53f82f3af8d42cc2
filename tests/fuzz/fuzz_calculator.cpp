// Any sequence of calculator keys leaves a display that is a number, or the
// lone "-" of a sign being typed: never "inf", "nan" or garbage.
#include "fuzz_support.h"
#include "tools/calculator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kqm::tools::Calculator calculator;
    calculator.warn = [](const QString&) {
    };
    const QString steps = QStringLiteral("400");
    for (size_t i = 0; i < size; ++i) {
        const uint8_t key = data[i] % 22;
        if (key < 10)
            calculator.digit(key);
        else if (key < 15)
            calculator.op(QLatin1Char("/+X-="[key - 10]));
        else if (key == 15)
            calculator.decimalPoint();
        else if (key == 16)
            calculator.percent();
        else if (key == 17)
            calculator.clear();
        else if (key == 18)
            calculator.clearEntry();
        else if (key == 19)
            calculator.ppsToRps(i + 1 < size ? QString::number(data[++i] % 5) : steps);
        else if (key == 20)
            calculator.rpsToPps(i + 1 < size ? QString::number(data[++i]) : steps);
        else if (i + 1 < size)
            calculator.key(QChar(data[++i]));
        const QString shown = calculator.display();
        KQM_FUZZ_CHECK(!shown.isEmpty());
        KQM_FUZZ_CHECK(!shown.contains(QStringLiteral("inf")) &&
                       !shown.contains(QStringLiteral("nan")));
        KQM_FUZZ_CHECK(shown == QLatin1String("-") || shown == QLatin1String(".") ||
                       kqm::tools::displayNumber(shown).has_value());
    }
    return 0;
}
