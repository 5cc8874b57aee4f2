#pragma once
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "sim/simulator.h"

namespace isp {

// The stand-in on a new pseudo-terminal, running; a program that cannot
// have one says why and ends with status 2.
inline std::unique_ptr<sim::Simulator> startStandIn(const std::string& program, sim::SimulatorOptions options,
                                                    sim::Simulator::Log log = {}) {
  std::string error;
  auto sim = sim::Simulator::started(std::move(options), std::move(log), &error);
  if (!sim) {
    std::cerr << program << ": " << error << "\n";
    std::exit(2);
  }
  return sim;
}

}  // namespace isp
