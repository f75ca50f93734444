#pragma once

#include "filestamp.h"
#include "profile.h"

#include <QString>

#include <memory>

namespace airmesh {
inline namespace core {

// One sectioned key/value text file: the settings file, or an aircraft file during the hangar
// scan. Reads and writes never report failures: a missing file, section or key reads as the
// default, and a write that cannot be done leaves the file as it was.
class INIFiles {
public:
    INIFiles() = default;
    explicit INIFiles(QString fileName) : m_fileName(std::move(fileName)) {}

    QString FileName() const { return m_fileName; }
    void setFileName(const QString& vData);

    // The value of KeyName in section KeyTitle, at most 127 characters, blanks and one pair of
    // enclosing quotes removed; MyDefault when the file, section or key is absent.
    QString ReadINI(const QString& KeyTitle, const QString& KeyName, const QString& MyDefault) const;
    QString ReadINI(const QString& KeyTitle, const QString& KeyName, long long MyDefault) const {
        return ReadINI(KeyTitle, KeyName, QString::number(MyDefault));
    }

    // Sets KeyName in section KeyTitle to Value, creating the file, section or key as needed
    // and leaving every other line as it was. Returns whether the file now holds the value.
    bool WriteINI(const QString& KeyTitle, const QString& KeyName, const QString& Value);
    bool WriteINI(const QString& KeyTitle, const QString& KeyName, long long Value) {
        return WriteINI(KeyTitle, KeyName, QString::number(Value));
    }

private:
    // The parsed file as last read, reused while the file on disk is unchanged. An edit by
    // hand changes the file's stamp, so it is seen at the next read.
    std::shared_ptr<const profile::Index> current() const;

    QString m_fileName;
    mutable std::shared_ptr<const profile::Index> m_index;
    mutable FileStamp m_stamp;
};

// Text to Boolean as the settings' flags are read: "True"/"False" in any case, numbers
// (0 off, anything else on). Anything else gives `otherwise`.
bool settingToBool(const QString& text, bool otherwise);

} // namespace core
} // namespace airmesh
