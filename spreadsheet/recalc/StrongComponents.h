#pragma once
// The strongly connected components of a graph given as edge lists
// (edges[starts[n] .. starts[n + 1]) leave node n): Tarjan's algorithm
// without recursion, so a long chain of formulas cannot overflow the stack.
// Components come out readers first.

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<std::vector<uint32_t>> Components(size_t count, const std::vector<uint32_t>& starts,
                                              const std::vector<uint32_t>& edges);
