// The variables of ScopedChildEnvironment, read by the runners when they start a program.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vesk::detail {

void SetChildVariable(const std::string& name, std::string value);
void RemoveChildVariable(const std::string& name);
// In the order they were set; a later one of the same name wins.
std::vector<std::pair<std::string, std::string>> ChildVariables();

}  // namespace vesk::detail
