// The song information window "歌曲信息": the title, singer, album,
// playable link and song ID of a search result, and its lyric text. The
// main window builds it hidden when first needed and shows it modally for
// the song-properties command of the result menu.
#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QGroupBox;

class SongInfoWindow : public QDialog
{
    Q_OBJECT
public:
    explicit SongInfoWindow(QWidget *parent = nullptr);

    QLineEdit *titleEdit = nullptr;  // "歌名："
    QLineEdit *singerEdit = nullptr; // "歌手："
    QLineEdit *albumEdit = nullptr;  // "专辑："
    QLineEdit *linkEdit = nullptr;   // "引用地址：" (the playable link)
    QLineEdit *songIdEdit = nullptr; // "ID："
    QGroupBox *lyricFrame = nullptr; // "歌词信息："
    QPlainTextEdit *lyricEdit = nullptr;
};
