#include "fakemessageboxes.h"

namespace airmesh {

QStringList FakeMessageBoxes::texts() const {
    QStringList out;
    for (const Box& b : shown) {
        out << b.text;
    }
    return out;
}

QStringList FakeMessageBoxes::titles() const {
    QStringList out;
    for (const Box& b : shown) {
        out << b.title;
    }
    return out;
}

} // namespace airmesh
