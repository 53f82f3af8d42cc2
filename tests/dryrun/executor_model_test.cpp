#include "dryrun/executor.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QVariant>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <map>
#include <optional>
#include <set>

using namespace kqm::dryrun;

// A second executor, written from the command table and docs/dry-run.md
// alone, runs generated programs beside the real one; they must agree on how
// the run ends, where the motor rests, the travel, the outputs, the lines run,
// the program time and the trace. Times are kept in microseconds: waits and
// input changes are exact, a finished move adds a few microseconds of
// tolerance (the moves' trapezoids and triangles are modelled, the executor
// ends a move on its tick). Where the model cannot tell (a moment within that
// tolerance of an input change or the limit) the program is not compared.
namespace {

// A generated line: "%1" is filled with the address of the line its label
// names, with its line number (form 'l'), or with an address one byte into
// that line (form 'b', which no line starts at).
struct Line {
    QString text;
    int label = -1;
    char form = 'a';
};

struct Program {
    QList<Line> lines;
    std::map<int, int> labels;     // label, line index
    QList<QPair<int, int>> inputs; // ms, pattern
    int limitMs = 5000;
};

QString num(qint64 n) {
    return QString::number(n);
}

// The stored commands; false when a label names no line or a line that
// shares its address (J and U take no bytes).
bool render(const Program& p, QStringList* out) {
    QStringList blank;
    for (const Line& l : p.lines)
        blank << QString(l.text).replace(QLatin1String("%1"), QLatin1String("0"));
    const QList<RunStep> steps = stepsFromCommands(blank);
    out->clear();
    for (const Line& l : p.lines) {
        QString text = l.text;
        if (l.label >= 0) {
            const auto it = p.labels.find(l.label);
            if (it == p.labels.end() || it->second >= steps.size())
                return false;
            const int at = it->second;
            for (int j = 0; j < steps.size() && l.form != 'l'; ++j)
                if (j != at && steps[j].address == steps[at].address)
                    return false;
            text = text.arg(l.form == 'l' ? at + 1 : steps[at].address + (l.form == 'b'));
        }
        *out << text;
    }
    return true;
}

struct Row {
    double at, tol;
    int step;
    qint64 lo, hi; // where the motor may be: one position when it stands
    int outputs;
    int zs = 0; // the Zs before it: a later one may re-express it in its coordinates
};

struct Outcome {
    RunEnd end = RunEnd::Running;
    int endStep = -1; // -1: not compared
    double now = 0, tol = 0;
    qint64 rest = 0, low = 0, high = 0, lines = 0;
    int outputs = 0;
    QList<Row> trace;
    std::vector<qint64> shifts; // by each Z
    bool circled = false;       // lines and trace then depend on how a circle is found
    bool unclear = false;
};

struct Model {
    Model(const QStringList& texts, const QList<RunStep>& steps, const Program& p)
        : text(texts), inputs(p.inputs), limit(p.limitMs * 1000.0), loops(texts.size(), -1) {
        for (const QString& t : texts) {
            std::vector<qint64> v;
            for (auto m = QRegularExpression("[0-9]+").globalMatch(t.mid(1)); m.hasNext();)
                v.push_back(m.next().captured().toLongLong());
            v.resize(std::max<size_t>(v.size(), 3));
            nums.push_back(v);
        }
        for (int i = 0; i < steps.size(); ++i)
            at.emplace(steps[i].address, i);
    }

    QStringList text;
    std::vector<std::vector<qint64>> nums;
    std::map<qint64, int> at; // address, first line there
    QList<QPair<int, int>> inputs;
    double limit;
    Outcome o;
    double now = 0, tol = 0; // µs
    qint64 pos = 0;          // where the motor stands, or where its move ends
    bool cw = true;
    int outputs = 0, next = 0, lastRun = -1;
    double acc = 16000, base = 500, max = 1500;
    qint64 reg = 0, lastN = 0;
    std::optional<qint64> target;
    char last = 0; // the last move: 'N' relative, 'P' absolute
    struct {
        bool on = false, slew = false, cw = true;
        double start = 0, end = 0, base = 0, max = 0, acc = 0;
        qint64 from = 0, to = 0;
    } mv;
    std::vector<int> loops;

    void stop(RunEnd e, int step) { o.end = e, o.endStep = step; }
    bool near(double t) const { return tol > 0 && std::abs(now - t) <= tol; }
    int inputsNow() {
        int p = 0;
        for (const auto& [ms, pattern] : inputs) {
            o.unclear |= near(ms * 1000.0);
            if (ms * 1000.0 <= now)
                p = pattern;
        }
        return p;
    }
    std::optional<double> nextChange() {
        for (const auto& [ms, pattern] : inputs) {
            o.unclear |= near(ms * 1000.0);
            if (ms * 1000.0 > now && ms * 1000.0 < limit)
                return ms * 1000.0;
        }
        return {};
    }
    double seconds(qint64 d) const {
        const double ramp = (max * max - base * base) / (2 * acc);
        if (2 * ramp <= d)
            return 2 * (max - base) / acc + (d - 2 * ramp) / max;
        return 2 * (std::sqrt(base * base + acc * d) - base) / acc;
    }
    bool slewing() const { return mv.on && mv.slew; }
    // Waits for the move in progress; false when that takes the run past its limit.
    bool finishMove() {
        if (!mv.on || mv.slew || mv.end <= now)
            return true;
        now = mv.end;
        tol += 2;
        o.unclear |= near(limit);
        return now <= limit;
    }
    void moveTo(qint64 to, int i) {
        if (slewing())
            return stop(RunEnd::NotSimulated, i);
        if (!finishMove()) { // whether the move starts at the limit: not said
            o.unclear = true;
            return;
        }
        const double end = now + seconds(std::abs(to - pos)) * 1e6;
        mv = {true, false, cw, now, end, base, max, acc, pos, to};
        pos = to;
        o.low = std::min(o.low, to), o.high = std::max(o.high, to);
    }
    void stopSlew() {
        const double t = (now - mv.start) / 1e6, ramp = (mv.max - mv.base) / mv.acc;
        const double d = t < ramp ? mv.base * t + mv.acc * t * t / 2
                                  : mv.base * ramp + mv.acc * ramp * ramp / 2 + mv.max * (t - ramp);
        const double margin = 1e-6 + tol * 1e-6 * mv.max, frac = d - std::floor(d);
        o.unclear |= frac < margin || 1 - frac < margin;
        pos = mv.from + (mv.cw ? 1 : -1) * qint64(std::floor(d));
        o.low = std::min(o.low, pos), o.high = std::max(o.high, pos);
        mv.on = false;
    }
    void branch(int i, qint64 address) {
        const auto it = at.find(address);
        if (it == at.end())
            return stop(RunEnd::NotSimulated, i);
        next = it->second;
    }
    void toLine(int i, qint64 line) {
        if (line < 1 || line > text.size())
            return stop(RunEnd::NotSimulated, i);
        next = int(line - 1);
    }

    void execute(int i) {
        const QString& t = text[i];
        const std::vector<qint64>& v = nums[i];
        const bool go = t.mid(1).contains('G');
        next = i + 1;
        // clang-format off
        switch (t[0].toLatin1()) {
        case 'A': acc = v[0] * 1000.0; break;
        case 'B': base = v[0]; break;
        case 'M': max = v[0]; break;
        case 'J': break;
        case '+': cw = true; break;
        case '-': cw = false; break;
        case 'O': outputs = int(v[0] & 3); break;
        case 'H': moveTo(0, i); break;
        case 'X': branch(i, v[0]); break;
        case 'Q': stop(RunEnd::Quit, i); break;
        case '?': next += inputsNow() != v[0]; break;
        case 'N':
            if (go) last = 'N', lastN = v[0], moveTo(pos + (cw ? v[0] : -v[0]), i);
            else reg = v[0];
            break;
        case 'P':
            if (go) last = 'P', lastN = v[0], moveTo(v[0], i);
            else target = v[0];
            break;
        case 'G':
            if (target) last = 'P', lastN = *target, target.reset();
            else if (!last) last = 'N', lastN = reg;
            moveTo(last == 'P' ? lastN : pos + (cw ? lastN : -lastN), i);
            break;
        case 'Z': // the travel so far moves with the coordinates
            if (slewing()) return stop(RunEnd::NotSimulated, i);
            o.unclear |= !finishMove();
            o.shifts.push_back(v[0] - pos);
            mv.from += v[0] - pos, mv.to += v[0] - pos;
            o.low += v[0] - pos, o.high += v[0] - pos, pos = v[0];
            break;
        case 'F':
            o.unclear |= slewing();
            if (!finishMove()) now = limit, tol = 0, stop(RunEnd::Limit, -1);
            break;
        case 'S':
            o.unclear |= mv.on && (mv.slew || mv.end > now - tol);
            mv = {true, true, cw, now, 0, base, max, acc, pos, pos};
            break;
        case '.':
            if (slewing()) stopSlew();
            else o.unclear |= mv.on && mv.end > now - tol;
            break;
        case 'W': // lines still run at the limit, not past it
            now += v[0] * 1000.0;
            if (now > limit && !near(limit)) now = limit, tol = 0, stop(RunEnd::Limit, -1);
            break;
        // clang-format on
        case '&': {
            const bool byLine = !t.contains('_');
            if (loops[i] < 0)
                loops[i] = int(byLine ? v[0] : v[1]);
            if (loops[i] == 0) {
                loops[i] = -1;
                break;
            }
            --loops[i];
            byLine ? toLine(i, v[1]) : branch(i, v[0]);
            break;
        }
        case 'U':
            if ((inputsNow() & 3) == v[1])
                break;
            if (v[2] - 1 != i) {
                toLine(i, v[2]);
            } else if (const auto c = nextChange()) {
                now = *c, tol = 0, next = i;
            } else {
                now = limit, tol = 0, stop(RunEnd::Limit, -1);
            }
            break;
        default:
            stop(RunEnd::NotSimulated, i);
        }
    }

    std::vector<qint64> state() const {
        std::vector<qint64> k{
            next,  outputs, cw,          reg,          target.value_or(-1), target.has_value(),
            last,  lastN,   qint64(acc), qint64(base), qint64(max),         pos,
            mv.on, mv.slew};
        k.insert(k.end(), loops.begin(), loops.end());
        return k;
    }
    Row row() const {
        Row r{now, tol, next, pos, pos, outputs, int(o.shifts.size())};
        if (slewing())
            r.lo = mv.cw ? mv.from : LLONG_MIN, r.hi = mv.cw ? LLONG_MAX : mv.from;
        else if (mv.on && now < mv.end + tol)
            r.lo = std::min(mv.from, mv.to), r.hi = std::max(mv.from, mv.to);
        return r;
    }

    Outcome run() {
        std::set<std::vector<qint64>> seen; // the states at this moment
        double seenAt = -1;
        const int n = text.size();
        while (o.end == RunEnd::Running && !o.unclear) {
            if (near(limit)) {
                o.unclear = true;
            } else if (next >= n) {
                stop(RunEnd::Quit, lastRun == n - 1 ? n - 1 : -1);
            } else {
                if (seenAt != now)
                    seen.clear(), seenAt = now;
                if (!seen.insert(state()).second) { // circles without time passing
                    o.circled = true;
                    if (const auto c = nextChange())
                        now = *c, tol = 0;
                    else
                        stop(RunEnd::Limit, -1);
                    continue;
                }
                o.trace.append(row());
                ++o.lines;
                execute(lastRun = next);
            }
        }
        o.unclear |= slewing(); // a slew nobody stops never rests
        o.now = now, o.tol = tol, o.rest = pos, o.outputs = outputs;
        return o;
    }
};

QString shown(const Program& p) {
    QStringList texts, inputs;
    render(p, &texts);
    for (const auto& [ms, pattern] : p.inputs)
        inputs << QStringLiteral("%1:%2").arg(ms / 1000.0).arg(pattern);
    return texts.join(QLatin1String(" | ")).replace(QLatin1String("\r"), QLatin1String("\\r")) +
           QStringLiteral("   inputs %1, limit %2 s").arg(inputs.join(',')).arg(p.limitMs / 1000.0);
}

QString differ(const char* what, const QVariant& model, const QVariant& executor) {
    return QStringLiteral("%1: model %2, executor %3")
        .arg(what, model.toString(), executor.toString());
}

// The first difference, "check: model ..., executor ..."; empty when the two
// agree; nothing when the model cannot tell.
std::optional<QString> difference(const Program& p) {
    QStringList texts;
    if (!render(p, &texts))
        return std::nullopt;
    const QList<RunStep> steps = stepsFromCommands(texts);
    const Outcome o = Model(texts, steps, p).run();
    if (o.unclear)
        return std::nullopt;
    RunSettings settings;
    settings.record = true;
    settings.limit = p.limitMs / 1000.0;
    for (const auto& [ms, pattern] : p.inputs)
        settings.inputs.append({ms / 1000.0, pattern});
    Executor run(steps, settings);
    run.run();
    const auto sameTime = [](double model, double tol, double executor) {
        return tol == 0 ? model / 1e6 == executor : std::abs(model / 1e6 - executor) <= tol / 1e6;
    };
    if (run.end() != o.end)
        return QStringLiteral("end: model %1, executor %2 (%3)")
            .arg(runEndName(o.end), runEndName(run.end()), run.endReason());
    if (o.endStep >= 0 && run.endStep() != o.endStep)
        return differ("end line", o.endStep + 1, run.endStep() + 1);
    if (run.restingPosition() != o.rest)
        return differ("resting position", qlonglong(o.rest), qlonglong(run.restingPosition()));
    const auto span = [](qint64 low, qint64 high) {
        return QStringLiteral("%1..%2").arg(low).arg(high);
    };
    if (run.lowest() != o.low || run.highest() != o.high)
        return differ("travel", span(o.low, o.high), span(run.lowest(), run.highest()));
    if (run.outputs() != o.outputs)
        return differ("outputs", o.outputs, run.outputs());
    if (!sameTime(o.now, o.tol, run.now()))
        return differ("seconds", o.now / 1e6, run.now());
    if (o.circled)
        return QString();
    if (run.linesExecuted() != o.lines)
        return differ("lines executed", qlonglong(o.lines), qlonglong(run.linesExecuted()));
    const QList<ExecutedLine>& trace = run.executed();
    for (int k = 0; k < std::min<int>(trace.size(), o.trace.size()); ++k) {
        const Row& want = o.trace[k];
        const ExecutedLine& got = trace[k];
        const QString row = QStringLiteral(" (row %1)").arg(k);
        if (got.step != want.step)
            return differ("trace line", want.step + 1, got.step + 1) + row;
        if (!sameTime(want.at, want.tol, got.at))
            return differ("trace time", want.at / 1e6, got.at) + row;
        bool there = false; // where it stood, or that in the coordinates of a later Z
        qint64 shift = 0;
        for (size_t z = want.zs;; shift += o.shifts[z++]) {
            there = got.position >= want.lo + shift && got.position <= want.hi + shift;
            if (there || z == o.shifts.size())
                break;
        }
        if (!there)
            return differ("trace position", qlonglong(want.lo), qlonglong(got.position)) + row;
        if (got.outputs != want.outputs)
            return differ("trace outputs", want.outputs, got.outputs) + row;
    }
    if (trace.size() != o.trace.size())
        return differ("trace rows", qlonglong(o.trace.size()), qlonglong(trace.size()));
    return QString();
}

struct Generator {
    QRandomGenerator& r;
    Program p;
    std::vector<int> pending;
    int labels = 0;

    int pick(int n) { return int(r.bounded(n)); }
    int label() { return labels++; }
    void place(int l) { pending.push_back(l); }
    void add(const QString& text, int l = -1, char form = 'a') {
        for (int x : pending)
            p.labels[x] = int(p.lines.size());
        pending.clear();
        p.lines.append({text, l, form});
    }
    int pattern() { return pick(4) ? p.inputs[pick(int(p.inputs.size()))].second : pick(4); }
    QString move() {
        const bool relative = pick(3);
        return (relative ? "N" : "P") + num(relative ? pick(600) : pick(1500)) +
               (pick(2) ? ",G" : "\r@0G");
    }
    // A line that does not branch.
    QString simple() {
        const QString lines[] = {"+",
                                 "-",
                                 "F",
                                 ".",
                                 "H" + num(pick(2)),
                                 "Z" + num(pick(2000)),
                                 "O" + num(pick(9) ? pick(4) : 4 + pick(4)),
                                 "W" + num(pick(3) ? 100 * (1 + pick(3)) : 1 + pick(300)),
                                 "A" + num(5 + pick(36)),
                                 "B" + num(200 + pick(800)),
                                 "M" + num(1200 + pick(2800)),
                                 "J" + num(50 + pick(500))};
        return lines[pick(std::size(lines))];
    }
    void block(int depth) {
        switch (pick(depth < 2 ? 16 : 6)) {
        case 0:
        case 1: // a move, maybe repeated, maybe finished
            add(move());
            if (!pick(3))
                add("G");
            if (pick(2))
                add("F");
            break;
        case 2:
            add("P" + num(pick(1500))), add("G");
            break;
        case 3:
            add(simple());
            break;
        case 4:
            add("Z" + num(pick(2000)));
            break;
        case 5:
            add("?" + num(pattern())), add(pick(3) ? simple() : move());
            break;
        case 6:
        case 7:
        case 8: { // a loop by address, or in the upload's form by line
            const int top = label();
            place(top);
            for (int k = 1 + pick(3); k > 0; --k)
                block(depth + 1);
            const int t = 1 + pick(3);
            pick(4) ? add("&%1_" + num(t), top) : add("&" + num(t) + ",%1", top, 'l');
            break;
        }
        case 9: { // a skip, maybe on the inputs
            const int past = label();
            if (pick(2))
                add("?" + num(pattern()));
            add("X%1", past);
            for (int k = 1 + pick(2); k > 0; --k)
                block(depth + 1);
            place(past);
            break;
        }
        case 10:
        case 11: { // polling the inputs, with or without a wait
            const int top = label(), out = label();
            place(top);
            if (pick(3))
                add("W" + num(pick(2) ? 50 : 1 + pick(200)));
            add("?" + num(pattern())), add("X%1", out), add("X%1", top);
            place(out);
            break;
        }
        case 12: { // until, waiting on its own line or skipping a block
            const int l = label();
            const QString until = "U0," + num(pattern() & 3) + ",%1";
            if (pick(2)) {
                place(l), add(until, l, 'l');
            } else {
                add(until, l, 'l'), block(depth + 1), place(l);
            }
            break;
        }
        case 13: { // run the second block, then the first
            const int first = label(), second = label(), out = label();
            add("X%1", second), place(first), block(depth + 1), add("X%1", out);
            place(second), block(depth + 1), add("X%1", first), place(out);
            break;
        }
        case 14: // a slew
            add("F"), add("S"), add("W" + num(20 + pick(300))), add(".");
            break;
        default: { // a quit on the inputs, or where the run cannot follow
            const int l = label();
            const int kind = pick(4);
            if (kind == 0)
                add(pick(2) ? "I1,2,3" : "D1");
            else if (kind == 1)
                add("?" + num(pattern())), add("Q");
            else
                add("X%1", l, 'b'), place(l), block(depth + 1);
        }
        }
    }
};

Program generate(QRandomGenerator& r) {
    Generator g{r, {}, {}, 0};
    int prev = 0;
    for (int ms = g.pick(3) ? 0 : g.pick(500), k = 1 + g.pick(4); k > 0 && ms < 4000; --k) {
        int pattern;
        do
            pattern = g.pick(8) ? g.pick(4) : g.pick(16);
        while (pattern == prev);
        g.p.inputs.append({ms, prev = pattern});
        ms += 1 + g.pick(1200);
    }
    if (!g.pick(3))
        g.add("Z" + num(g.pick(3000)));
    if (!g.pick(4))
        g.add("-");
    if (!g.pick(5)) // G with no move before: by the registration index
        g.add("N" + num(1 + g.pick(500))), g.add("G");
    for (int k = 2 + g.pick(5); k > 0; --k)
        g.block(0);
    const int e = g.pick(10);
    g.add(e < 6 ? "Q" : e < 8 ? "O" + num(g.pick(4)) : "W" + num(1 + g.pick(100)));
    return g.p;
}

// The smallest program, by lines dropped and input changes left out, that
// still differs in the same check.
Program shrink(Program p, const QString& check) {
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (int i = int(p.lines.size()) - 1; i >= 0 && p.lines.size() > 1; --i) {
            Program q = p;
            q.lines.removeAt(i);
            bool fits = true;
            for (auto& [l, at] : q.labels)
                fits &= (at -= at > i) < q.lines.size();
            const auto d = fits ? difference(q) : std::nullopt;
            if (d && d->section(':', 0, 0) == check)
                p = q, smaller = true;
        }
        for (int i = int(p.inputs.size()) - 1; i >= 0; --i) {
            Program q = p;
            q.inputs.removeAt(i);
            const auto d = difference(q);
            if (d && d->section(':', 0, 0) == check)
                p = q, smaller = true;
        }
    }
    return p;
}

Program fixed(const QStringList& texts, QList<QPair<int, int>> inputs = {}, int limitMs = 5000) {
    Program p;
    for (const QString& t : texts)
        p.lines.append({t});
    p.inputs = inputs;
    p.limitMs = limitMs;
    return p;
}

TEST(ExecutorModel, RunsGeneratedProgramsAsAnIndependentModelDoes) {
    // The corners named in docs/dry-run.md go first, then the generated programs.
    QList<QPair<QString, Program>> programs = {
        {"run-out counter-clockwise", fixed({"-", "N1000,G", "Q"})},
        {"run-out past the last line", fixed({"N4000,G", "O0", "W500", "&0_3", "Q"}, {}, 60000)},
        {"Z gives the coordinates", fixed({"Z1000", "-", "N300,G", "F", "P2000,G", "F", "Q"})},
        {"Z after a move", fixed({"N500,G", "Z0", "Q"})},
        {"ten waits make a second", fixed({"W100", "&0_9", "?1", "O3", "Q"}, {{0, 0}, {1000, 1}})},
        {"a circle at 0 s", fixed({"O1", "X0"})},
    };
    const quint32 seeds[] = {1, 7, 42, 1999, 31337, 271828, 314159, 8675309};
    for (const quint32 seed : seeds) {
        QRandomGenerator random(seed);
        for (int k = 0; k < 80; ++k) {
            Program p = generate(random);
            QStringList texts;
            while (!render(p, &texts))
                p = generate(random);
            programs.append({QStringLiteral("seed %1, program %2").arg(seed).arg(k), p});
        }
    }
    struct Found {
        int programs = 0;
        QString where, detail;
        Program smallest;
    };
    std::map<QString, Found> found; // by check
    int compared = 0;
    for (const auto& [where, p] : programs) {
        const auto d = difference(p);
        compared += d.has_value();
        if (!d || d->isEmpty())
            continue;
        Found& f = found[d->section(':', 0, 0)];
        if (++f.programs > 4)
            continue; // shrinking takes a while; a few of each are enough
        const Program small = shrink(p, d->section(':', 0, 0));
        if (f.where.isEmpty() || small.lines.size() < f.smallest.lines.size())
            f = {f.programs, where, *difference(small), small};
    }
    for (const auto& [check, f] : found) {
        SCOPED_TRACE(f.where.toStdString());
        ADD_FAILURE() << f.programs << " programs differ in " << check.toStdString()
                      << "; the smallest: " << shown(f.smallest).toStdString() << "\n  "
                      << f.detail.toStdString();
    }
    // The model must follow most programs for the comparison to mean anything.
    EXPECT_GT(compared, programs.size() * 2 / 3) << compared << " of " << programs.size();
}

} // namespace
