#include <string>

#include "vesk/VeskPack5.h"

TVeskFraProgresso::~TVeskFraProgresso() = default;

void TVeskFraProgresso::SetEhCircular(bool) {}
void TVeskFraProgresso::SetEhCircularParcial(bool) {}

// Every run switches keeping on before it starts and never off, so each switch starts a fresh
// capture: a frame the host reuses never carries an earlier run's lines into a later run's text.
void TVeskFraProgresso::SetCaptureGuardar(bool Value) {
  if (Value) {
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
