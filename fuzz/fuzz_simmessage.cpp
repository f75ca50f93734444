// Messages from the simulator's session: any bytes are read by the reader of their type
// without reading outside the message; a short or lying message only raises the session error.
#include "simlink/simcodec.h"

#include <cstdint>

using namespace airmesh;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SimMessage m(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    try {
        const sim::Header h = sim::readHeader(m);
        switch (static_cast<SimMsg>(h.number)) {
        case SimMsg::AircraftDetails:
            (void)sim::readAircraftDetails(m);
            break;
        case SimMsg::AddPlayerApproved:
            (void)sim::readApprovedPlayerId(m);
            break;
        case SimMsg::PositionUpdate:
            (void)sim::readPositionBlock(m);
            break;
        case SimMsg::ChatMessage:
        case SimMsg::ChatMessageAlt:
            (void)sim::readChatText(m, h.payloadLength);
            break;
        default:
            (void)engineTypeText(h.payloadLength);
            break;
        }
    } catch (const dp::DpError&) {
        // a short message: dropped by the caller
    }
    return 0;
}
