// The index's trigram table asked directly, beside the index's own search,
// to tell what it holds.
#pragma once

#include <QFile>
#include <QString>
#include <sqlite3.h>

// How many tracks the trigram index finds for a word; -1 when it cannot be
// asked.
inline int trigramMatches(const QString &indexFile, const char *word)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(indexFile).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM tracks_fts WHERE tracks_fts MATCH ?", -1, &stmt,
                       nullptr);
    sqlite3_bind_text(stmt, 1, word, -1, SQLITE_STATIC);
    const int count = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return count;
}
