#include <string>

#include "vesk/VeskPack5.h"

TVeskFraProgresso::~TVeskFraProgresso() = default;

void TVeskFraProgresso::SetEhCircular(bool) {}
void TVeskFraProgresso::SetEhCircularParcial(bool) {}

// Switching keeping on starts a fresh capture, so one run's text does not carry an earlier run's.
void TVeskFraProgresso::SetCaptureGuardar(bool Value) {
  if (Value && !capture_guardar_) {
    captured_.Clear();
  }
  capture_guardar_ = Value;
}

std::string TVeskFraProgresso::GetCaptureText() const {
  return captured_.Join("\r\n");
}

void TVeskFraProgresso::DoCaptureLine(const std::string& Line, bool&) {
  ShowLine(Line);
  if (capture_guardar_) {
    captured_.Add(Line);
  }
}

void TVeskFraProgresso::ShowLine(const std::string&) {}
