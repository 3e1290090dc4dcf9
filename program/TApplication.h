#pragma once

#include "ui/ErrorReport.h"

#include <QApplication>

namespace tintavo {

// The application object: any error escaping an event handler ends in the general error
// report instead of ending the program.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace tintavo
