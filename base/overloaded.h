#pragma once

namespace morvane {

// One visitor for a std::variant made of a handler per alternative.
template <typename... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };

} // namespace morvane
