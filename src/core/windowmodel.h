#pragma once

#include <QObject>
#include <QString>

namespace airmesh {

// What the main window shows of the server link, as the engine sets it: the window mirrors
// this model, and tests read it without a display.
class MainWindowModel : public QObject {
    Q_OBJECT

public:
    // The traffic light: 0 red (not connected), 1 yellow (connecting), 2 green (connected).
    enum Picture { NotConnected = 0, Connecting = 1, ConnectedPicture = 2 };

    int picture = NotConnected;
    QString statusText = QStringLiteral("Disconnected");
    bool connectEnabled = true;
    QString connectCaption = QStringLiteral("Connec&t");
    bool aliasEnabled = false;
    bool cancelEnabled = true;

    // Tells the window to show the model now; `repaintNow` where the engine goes on working
    // without letting events run, so the status text must be painted at once.
    void changed(bool repaintNow = false) { emit modelChanged(repaintNow); }

signals:
    void modelChanged(bool repaintNow);
};

} // namespace airmesh
