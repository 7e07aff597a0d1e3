// A local file read with plain reads.
#pragma once

#include "playback/sources/ByteSource.h"

#include <QByteArray>

class FileByteSource : public ByteSource
{
public:
    explicit FileByteSource(const QByteArray &path) : m_path(path) {}
    ~FileByteSource() override;

    bool open(qint64 offset) override;
    qint64 read(char *data, qint64 max) override;
    qint64 size() const override { return m_size; }

private:
    QByteArray m_path;
    int m_fd = -1;
    qint64 m_size = -1;
};
