// Timing of the road from the host's input to its pixels, for the benchmark. With the
// environment variable QUILLO_STAGE_TRACE naming a file when the library first passes a stage,
// each stage passed appends one line "<stage> <monotonic ns>" to that file (one write(2) with
// O_APPEND, so lines from several threads never mix). Without it, a stage costs one load of a
// flag. Any thread.
#pragma once

namespace quillo::diagnostics {

enum class Stage {
  kInputTaken,       // the input thread took the host's input word
  kInputDispatched,  // the engine thread handed a mouse button to the engine
  kFrameExported,    // the engine thread received a frame the web process painted
  kFramePublished,   // the frame is in the library's frame store, ready for the next poll
  kFrameDelivered,   // a poll copied it into the host's memory (and reports UPDATE_NEW_FRAME)
};

void MarkStage(Stage stage);

}  // namespace quillo::diagnostics
