// Qt's own texts (the buttons of message boxes, the labels of the file
// dialog) in Simplified Chinese, like every other text of the window,
// whatever language the system is set to.
#pragma once

class QCoreApplication;

// Loads Qt's Simplified Chinese translation from Qt's translation folder
// and installs it on app. False when the translation is missing (Qt then
// keeps its English texts).
bool installQtTranslation(QCoreApplication *app);
