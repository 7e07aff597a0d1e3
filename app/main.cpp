#include "service/ServiceConfig.h"

#include <QApplication>
#include <QLabel>
#include <clocale>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // libmpv refuses to start under a locale whose decimal point is not '.'.
    std::setlocale(LC_NUMERIC, "C");
    ServiceConfig::configureFromArguments(app.arguments());
    QLabel placeholder(ServiceConfig::host());
    placeholder.show();
    return app.exec();
}
