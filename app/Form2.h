// The song information window "歌曲信息": the title, singer, album,
// playable link and song ID of a search result, and its lyric text. It is
// loaded hidden at start-up and shown modally by the song-properties
// command of the result menu.
#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QGroupBox;

class Form2 : public QDialog
{
    Q_OBJECT
public:
    explicit Form2(QWidget *parent = nullptr);

    QLineEdit *Text1 = nullptr;  // "歌名："
    QLineEdit *Text2 = nullptr;  // "歌手："
    QLineEdit *Text3 = nullptr;  // "专辑："
    QLineEdit *Text4 = nullptr;  // "引用地址：" (the playable link)
    QLineEdit *Text6 = nullptr;  // "ID："
    QGroupBox *Frame1 = nullptr; // "歌词信息："
    QPlainTextEdit *Text5 = nullptr;
};
