#pragma once

namespace morvane {

// One visitor for a std::variant made of a handler per alternative.
template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };
// Clang 14 deduces no aggregate's template arguments by itself.
template <typename... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

} // namespace morvane
