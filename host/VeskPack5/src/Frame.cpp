#include <memory>
#include <string>

#include "tolvan/support/KeptLines.h"
#include "vesk/VeskPack5.h"

struct TVeskFraProgresso::Capture {
  bool keep = false;
  tolvan::support::KeptLines lines;
};

TVeskFraProgresso::TVeskFraProgresso() : capture_(std::make_unique<Capture>()) {}

TVeskFraProgresso::~TVeskFraProgresso() = default;

void TVeskFraProgresso::SetEhCircular(bool) {}
void TVeskFraProgresso::SetEhCircularParcial(bool) {}

// Every run switches keeping on before it starts and never off, so each switch starts a fresh
// capture: a frame the host reuses never carries an earlier run's lines into a later run's text.
void TVeskFraProgresso::SetCaptureGuardar(bool Value) {
  if (Value) {
    capture_->lines.Clear();
  }
  capture_->keep = Value;
}

std::string TVeskFraProgresso::GetCaptureText() const {
  return capture_->lines.Join("\r\n");
}

void TVeskFraProgresso::DoCaptureLine(const std::string& Line, bool&) {
  ShowLine(Line);
  if (capture_->keep) {
    capture_->lines.Add(Line);
  }
}

void TVeskFraProgresso::ShowLine(const std::string&) {}
