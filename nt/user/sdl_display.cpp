// The live display: an SDL window showing the screen, feeding real mouse
// and keyboard input into the input queue. The only place where real time
// and real input enter; absent when no display can be opened.
#include <SDL.h>

#include "state.h"
#include "user.h"

namespace qzr::user {

namespace {

struct Live {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
};
Live live;

void present_screen() {
  if (!live.texture) return;
  Pixels& s = desk().screen;
  SDL_UpdateTexture(live.texture, nullptr, s.data.data(), s.width * 4);
  SDL_RenderClear(live.renderer);
  SDL_RenderCopy(live.renderer, live.texture, nullptr, nullptr);
  SDL_RenderPresent(live.renderer);
}

int virtual_key(SDL_Keycode k) {
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  switch (k) {
    case SDLK_RETURN:
      return VK_RETURN;
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_SPACE:
      return VK_SPACE;
    case SDLK_UP:
      return VK_UP;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_F10:
      return VK_F10;
    case SDLK_F4:
      return VK_F4;
    case SDLK_LALT:
    case SDLK_RALT:
      return VK_MENU;
  }
  return 0;
}

}  // namespace

bool open_live_display() {
  if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
  Pixels& s = desk().screen;
  live.window = SDL_CreateWindow("Windows NT", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                                 s.width, s.height, 0);
  if (!live.window) {
    SDL_Quit();
    return false;
  }
  live.renderer = SDL_CreateRenderer(live.window, -1, SDL_RENDERER_SOFTWARE);
  live.texture = live.renderer ? SDL_CreateTexture(live.renderer, SDL_PIXELFORMAT_RGB888,
                                                   SDL_TEXTUREACCESS_STREAMING, s.width, s.height)
                               : nullptr;
  if (!live.texture) {
    close_live_display();
    return false;
  }
  desk().present = present_screen;
  present_screen();
  return true;
}

bool live_display_wait() {
  if (!live.window) return false;
  Desk& d = desk();
  present_screen();
  // Wait for input that means something to the machine.
  for (;;) {
    SDL_Event e;
    // A timer due before the next real input ends the wait at its time.
    const Timer* next = nullptr;
    for (const Timer& tm : d.timers)
      if (!next || tm.due_ms < next->due_ms) next = &tm;
    if (next) {
      // Message time may run ahead of the real clock (a script went first):
      // wait what is left of the period on message time.
      int wait_ms = next->due_ms > d.time_ms ? static_cast<int>(next->due_ms - d.time_ms) : 0;
      if (!SDL_WaitEventTimeout(&e, wait_ms)) {
        d.input.push_back({InputEvent::Kind::tick, 0, 0, 0, false, next->due_ms});
        return true;
      }
    } else if (!SDL_WaitEvent(&e)) {
      return false;
    }
    uint32_t t = SDL_GetTicks();
    bool alt = (SDL_GetModState() & KMOD_ALT) != 0;
    switch (e.type) {
      case SDL_QUIT:
        return false;
      case SDL_WINDOWEVENT:
        present_screen();
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT) break;
        d.input.push_back({e.type == SDL_MOUSEBUTTONDOWN ? InputEvent::Kind::mouse_down
                                                         : InputEvent::Kind::mouse_up,
                           e.button.x, e.button.y, 0, false, t});
        return true;
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        if (int vk = virtual_key(e.key.keysym.sym)) {
          d.input.push_back(
              {e.type == SDL_KEYDOWN ? InputEvent::Kind::key_down : InputEvent::Kind::key_up, 0, 0,
               vk, alt && vk != VK_MENU, t});
          return true;
        }
        break;
    }
  }
}

void close_live_display() {
  desk().present = nullptr;
  if (live.texture) SDL_DestroyTexture(live.texture);
  if (live.renderer) SDL_DestroyRenderer(live.renderer);
  if (live.window) SDL_DestroyWindow(live.window);
  live = Live{};
  SDL_Quit();
}

}  // namespace qzr::user
