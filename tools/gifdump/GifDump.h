#pragma once
// gifdump: looks inside a GIF with Kantrel's own codec.
//   gifdump info FILE           one JSON object describing the image and its frames
//   gifdump frame FILE N OUT    frame N (0 = first) as the BMP stream the codec builds
// Exit status: 0 done; 1 the codec failed on FILE ("EClassName: message" on
// standard error); 2 usage error (arguments, N out of range, FILE unreadable,
// OUT not writable), with the usage text.

#include <ostream>
#include <string>
#include <vector>

class TJvGIFImage;

namespace gifdump {

// JSON string literal of bytes: valid UTF-8 passes through, '"', '\' and
// control characters are escaped, and every byte that is not part of a valid
// UTF-8 sequence becomes \u00XX with XX the byte's value. So \u0080..\u00ff in
// the output always stand for raw bytes (a real U+0080..U+00FF stays UTF-8).
std::string JsonString(const std::string& bytes);

// The info object of a loaded image; decodes every frame first, so that
// "corrupted" covers all of them.
std::string InfoJson(TJvGIFImage& image);

// The whole tool; args exclude the program name. Returns the exit status.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace gifdump
