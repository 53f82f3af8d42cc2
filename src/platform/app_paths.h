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
};

// The executable's directory, or the per-user data directory where the
// executable's directory cannot be written (an installed copy, for example).
class ExecutableAppPaths final : public AppPaths {
public:
    ExecutableAppPaths();
    QString programDirectory() const override { return m_directory; }
    QString userDataDirectory() const override;

private:
    QString m_directory;
};

// A fixed directory: tests use a temporary one (the user data directory is
// its "user" folder).
class FixedAppPaths final : public AppPaths {
public:
    explicit FixedAppPaths(QString directory) : m_directory(std::move(directory)) {}
    QString programDirectory() const override { return m_directory; }
    QString userDataDirectory() const override { return m_directory + QStringLiteral("/user"); }

private:
    QString m_directory;
};

} // namespace kqm::platform
