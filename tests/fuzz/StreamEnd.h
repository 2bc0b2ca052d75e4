#pragma once
// How a fuzz harness's side of a sign-on stream ends once its bytes are
// queued, as one bit of the input chooses.

enum class EStreamEnd {
    HalfClose,  // no more bytes (the shim ends the stream), but the answer can still be read
    Reset,      // the connection is torn down at once
};

inline EStreamEnd StreamEndFrom(unsigned bit) { return bit ? EStreamEnd::Reset : EStreamEnd::HalfClose; }
