// Reader of an HTTP/1.0 response, fed incrementally with the bytes as they
// arrive.  Pure: no I/O, no allocation beyond the header bytes it keeps
// (capped), so the body can be streamed to a file of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/caps.h"

enum class HttpState {
    Head,       // header end not seen yet
    Body,       // header end seen; body bytes follow
    Complete,   // Content-Length bytes of body received (only with a length)
    Malformed,  // status line or Content-Length unreadable, or head too long
};

struct HttpReader {
    HttpState state = HttpState::Head;
    std::string head;            // head bytes, kept until the header end
    int status = 0;              // status code once the head is read
    int64_t contentLength = -1;  // -1: not given (body ends at close)
    int64_t bodyReceived = 0;    // body bytes handed out so far
};

// Feeds the next received bytes.  Returns the part of `chunk` that belongs
// to the body (a view into `chunk`, possibly empty); bytes after a complete
// Content-Length body are dropped.  Feeding a reader that is Complete or
// Malformed returns nothing.
std::string_view httpFeed(HttpReader* r, std::string_view chunk);

// True when the response ended (the server closed) with a full body: a
// status of 200, the head read, and either no Content-Length or all of it.
bool httpBodyComplete(const HttpReader& r);
