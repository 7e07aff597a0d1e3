// The end of a write through QSaveFile, checked. Qt's own commit() can
// report success when writing its buffered last part failed (a full disk
// gave 40,960 of 42,960 bytes, or 0 of 226, with commit() true), and then
// renames the short temporary file over the old one. Here the buffer is
// flushed, the file synced and its size compared with what was written
// before the rename; on any failure the temporary file is dropped and the
// old file stays as it was.
#pragma once

#include <QString>

class QSaveFile;

struct CheckedCommit
{
    bool saved = false;
    // The system's error number of the step that failed (0 when it gave
    // none, as for a size that does not match).
    int systemError = 0;
    // One line saying why, empty when saved.
    QString reason;

    bool diskFull() const;

    // Commits `file`, open for writing, into which exactly expectedBytes
    // were written; the temporary file is gone afterwards either way.
    static CheckedCommit commit(QSaveFile &file, qint64 expectedBytes);
};
