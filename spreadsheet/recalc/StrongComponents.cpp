#include "spreadsheet/recalc/StrongComponents.h"

#include <algorithm>

std::vector<std::vector<uint32_t>> Components(size_t count, const std::vector<uint32_t>& starts,
                                              const std::vector<uint32_t>& edges) {
  constexpr uint32_t kUnseen = UINT32_MAX;
  std::vector<uint32_t> order(count, kUnseen);
  std::vector<uint32_t> low(count, 0);
  std::vector<bool> onStack(count, false);
  std::vector<uint32_t> stack;
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // node, next edge
  std::vector<std::vector<uint32_t>> components;
  uint32_t next = 0;
  for (uint32_t root = 0; root < count; ++root) {
    if (order[root] != kUnseen) continue;
    calls.emplace_back(root, starts[root]);
    order[root] = low[root] = next++;
    stack.push_back(root);
    onStack[root] = true;
    while (!calls.empty()) {
      auto& [node, edge] = calls.back();
      if (edge < starts[node + 1]) {
        const uint32_t to = edges[edge++];
        if (order[to] == kUnseen) {
          order[to] = low[to] = next++;
          stack.push_back(to);
          onStack[to] = true;
          calls.emplace_back(to, starts[to]);
        } else if (onStack[to]) {
          low[node] = std::min(low[node], order[to]);
        }
        continue;
      }
      const uint32_t done = node;
      calls.pop_back();
      if (!calls.empty()) low[calls.back().first] = std::min(low[calls.back().first], low[done]);
      if (low[done] == order[done]) {
        std::vector<uint32_t> component;
        uint32_t member = 0;
        do {
          member = stack.back();
          stack.pop_back();
          onStack[member] = false;
          component.push_back(member);
        } while (member != done);
        components.push_back(std::move(component));
      }
    }
  }
  return components;
}

