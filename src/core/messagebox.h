#pragma once

#include <QString>

namespace airmesh {
inline namespace core {

// The one way any part of the client shows the user a modal message with an OK button.
// Library code asks this service; the window layer shows real boxes, tests answer it.
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    // An empty title shows the program's default title.
    virtual void showMessage(const QString& text, const QString& title) = 0;
};

} // namespace core
} // namespace airmesh
