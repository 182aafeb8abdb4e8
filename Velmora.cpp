// Velmora: dense optical flow between two grey images, estimated
// coarse-to-fine with Bayesian estimation of the model's hyper-parameters.
//
// The program's main source: the outline of a run (options, set-up, the
// levels from the coarsest to the finest, outputs) and the display windows,
// this being the one translation unit built with window support.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>
#include <string>

#include "CImg.h"
#include "denormals.h"
#include "display_hooks.h"
#include "heap_reuse.h"
#include "level_loop.h"
#include "output_file.h"
#include "outputs.h"
#include "run_parameters.h"
#include "run_setup.h"

#include <X11/Xlib.h>

using cimg_library::CImg;
using cimg_library::CImgList;

namespace {

// The library handles the events of every window in one thread, started
// with the first window, and a new thread inherits the signal mask of the
// thread that starts it. The first window (closed, never shown) is opened
// with the signals that end the process held (SignalsHeld: SIGINT, SIGTERM,
// SIGHUP, SIGPIPE, ...), so the event thread never takes one sent to the
// process: it reaches the main thread, whose handler removes the temporary
// file of an output being written.
void start_event_thread_without_signals() {
  static bool started = false;
  if (started) return;
  const SignalsHeld held;
  const cimg_library::CImgDisplay unseen(1, 1, "", 0, false, true);
  started = true;
}

// "" when the X display that DISPLAY names can be opened, else the
// refusal of -display (no line end): the windows need that display, and
// a run that could not show them stops before it reads anything.
std::string display_refusal() {
  const char* name = std::getenv("DISPLAY");
  if (!name || !*name)
    return "Refused: -display shows windows on an X display, and DISPLAY is not set.";
  Display* const display = XOpenDisplay(name);
  if (!display)
    return std::string("Refused: -display cannot open the X display \"") + name +
           "\" that DISPLAY names.";
  XCloseDisplay(display);
  return "";
}

// Each window holds the run until the user closes it.
void show_image(const CImg<double>& image, const char* title) {
  start_event_thread_without_signals();
  image.display(title);
}

void show_weights(const CImgList<double>& weights, const char* title) {
  start_event_thread_without_signals();
  weights.print(title);
  weights.get_append('x').display(title);
}

// The refusals that come before any input is read, after those of the
// command line itself: a refused run prints nothing on standard output,
// not even the single-level line of -UVinit.
std::string refusal_before_input(const RunParameters& p) {
  if (p.display) {
    const std::string refused = display_refusal();
    if (!refused.empty()) return refused;
  }
  return check_before_input(p);
}

int run(int argc, char** argv) {
  RunParameters p = read_run_parameters(argc, argv, refusal_before_input);
  RunDisplay display;
  if (p.display) {
    display.image = show_image;
    display.weights = show_weights;
  }

  RunSetup s = run_setup(p, display);
  const bool finestSolveFailed = run_levels(p, s, display);
  print_closing_line();
  if (finestSolveFailed) {
    print_no_convergence_line();
    return kExitNoConvergence;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  flush_denormals_to_zero();
  keep_freed_memory_for_reuse();
  try {
    return run(argc, argv);
  } catch (const cimg_library::CImgException& e) {
    std::cout.flush();
    std::fprintf(stderr, "Velmora: image library error: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::fprintf(stderr, "Velmora: out of memory\n");
  }
  return 1;
}
