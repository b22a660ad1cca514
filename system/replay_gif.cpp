#include "display/gif_file.h"
#include "system/recording.h"
#include "system/system.h"

ReplayGif::ReplayGif() : gif_(std::make_unique<GifAnimation>()) {}

ReplayGif::~ReplayGif() = default;

void ReplayGif::AddFrame() {
    uint8_t frame[FrameLines][FrameLineBytes];
    SystemTakeFrame(frame); // as the tick drew it
    GifAddFrame(*gif_, frame);
}

bool ReplayGif::Write(const std::string& path, std::string& error) {
    return GifWrite(*gif_, path.c_str(), error);
}
