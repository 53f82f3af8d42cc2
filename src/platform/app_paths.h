#pragma once

#include <QString>

namespace kqm::platform {

// Where the settings file, the program template and the working copy live.
class AppPaths {
public:
    virtual ~AppPaths() = default;
    // An existing directory, without a trailing separator.
    virtual QString programDirectory() const = 0;
    // The per-user data directory (the unit backups live there); made when
    // asked for.
    virtual QString userDataDirectory() const = 0;
    // The read-only program template an installed copy ships with; empty
    // when there is none (a build tree, a copy run from a stick).
    virtual QString shippedTemplate() const { return {}; }
};

// An installed copy (its template beside it under share/) keeps its files in
// the per-user data directory, so two users never share a working copy and
// nothing is written next to the executable, whoever runs it. Any other copy
// keeps them in the executable's directory, or in the per-user data directory
// where that directory cannot be written.
class ExecutableAppPaths final : public AppPaths {
public:
    ExecutableAppPaths();
    QString programDirectory() const override { return m_directory; }
    QString userDataDirectory() const override;
    QString shippedTemplate() const override { return m_template; }

private:
    QString m_directory;
    QString m_template;
};

// A fixed directory: tests use a temporary one (the user data directory is
// its "user" folder).
class FixedAppPaths final : public AppPaths {
public:
    explicit FixedAppPaths(QString directory, QString shippedTemplate = {})
        : m_directory(std::move(directory)), m_template(std::move(shippedTemplate)) {}
    QString programDirectory() const override { return m_directory; }
    QString userDataDirectory() const override { return m_directory + QStringLiteral("/user"); }
    QString shippedTemplate() const override { return m_template; }

private:
    QString m_directory;
    QString m_template;
};

// Where an installed executable finds its shipped template, relative to its
// own directory (bin/../share/kqm-indexer/blank.kqm).
QString shippedTemplateBeside(const QString& executableDirectory);

} // namespace kqm::platform
