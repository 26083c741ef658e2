#include <string>

#include "vesk/VeskPack5.h"

TVeskFraProgresso::~TVeskFraProgresso() = default;

void TVeskFraProgresso::SetEhCircular(bool) {}
void TVeskFraProgresso::SetEhCircularParcial(bool) {}

// Switching keeping on starts a fresh capture, so one run's text does not carry an earlier run's.
void TVeskFraProgresso::SetCaptureGuardar(bool Value) {
  if (Value && !capture_guardar_) {
    captured_.clear();
  }
  capture_guardar_ = Value;
}

std::string TVeskFraProgresso::GetCaptureText() const {
  std::string text;
  for (size_t i = 0; i < captured_.size(); ++i) {
    if (i > 0) {
      text += "\r\n";
    }
    text += captured_[i];
  }
  return text;
}

void TVeskFraProgresso::DoCaptureLine(const std::string& Line, bool&) {
  ShowLine(Line);
  if (capture_guardar_) {
    captured_.push_back(Line);
  }
}

void TVeskFraProgresso::ShowLine(const std::string&) {}
