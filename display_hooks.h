// How the driver shows images in display mode. The driver library is built
// without window support; the program's main source, the one translation
// unit built with it, supplies these functions when -display is on.
#ifndef VELMORA_DISPLAY_HOOKS_H
#define VELMORA_DISPLAY_HOOKS_H

#include "CImg.h"

struct RunDisplay {
  // Shows image in a window titled title (the library's default title when
  // title is null) and returns when the user closes the window.
  void (*image)(const cimg_library::CImg<double>& image, const char* title) = nullptr;
  // Prints the weight set on the error stream under title, then shows its
  // images appended side by side in a window of that title until closed.
  void (*weights)(const cimg_library::CImgList<double>& weights, const char* title) = nullptr;

  bool on() const { return image != nullptr; }
  void show(const cimg_library::CImg<double>& im, const char* title = nullptr) const {
    if (image) image(im, title);
  }
  void showWeights(const cimg_library::CImgList<double>& w, const char* title) const {
    if (weights) weights(w, title);
  }
};

#endif
