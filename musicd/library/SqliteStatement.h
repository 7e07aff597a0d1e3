// A prepared SQLite statement that finalises itself, for the index's
// source files.
#pragma once

#include <QByteArray>
#include <QString>
#include <sqlite3.h>

namespace musicd {

// A prepared statement that finalises itself.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    explicit operator bool() const { return m_stmt != nullptr; }
    sqlite3_stmt *get() const { return m_stmt; }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

// Text in and out of a statement, as UTF-8.
inline void bindText(sqlite3_stmt *stmt, int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(stmt, index, utf8.constData(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
}

inline QString columnText(sqlite3_stmt *stmt, int column)
{
    const auto *chars = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    return chars ? QString::fromUtf8(chars, sqlite3_column_bytes(stmt, column)) : QString();
}

} // namespace musicd
