#include "shell/core/InputRecall.h"

#include <utility>

namespace {

std::string zLastStatement;
std::string zQueued;

}  // namespace

void rememberStatement(std::string_view zSql) {
  zLastStatement.assign(zSql);
}

const std::string& lastStatement() {
  return zLastStatement;
}

void queueInput(std::string_view zText) {
  zQueued.append(zText);
}

std::string takeQueuedInput() {
  return std::exchange(zQueued, std::string());
}
