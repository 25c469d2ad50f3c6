// Found before Qt's own on the engine's include path: every Qt Gui and Widgets header
// includes this one first, so none of them compiles in the engine.
#error "The engine links Qt Core and Network only: no Qt Gui or Widgets header here"
