/* Sound-to-screen delay: plays tone bursts into the sound server and watches one pixel of the
 * screen for the picture's answer (a figure for notes, run by sound_to_pixel.py).
 *
 * One thread reads the pixel (x, y) of the root window, a 1 x 1 XGetImage every 0.5 ms, and
 * notes when it leaves its resting colour (read before the first burst). The main thread
 * plays through pa_simple without a break: silence, and now and then a burst of a sine. The
 * burst's start is when its first sample will be heard: the moment it is written plus the
 * stream's latency then (what is queued before it, the output's own latency included). The
 * delay of a burst is from that start to the first change of the pixel after it. Before each
 * burst the pixel must have rested for --rest-ms.
 *
 * Usage: sound_to_pixel --x X --y Y [--bursts 15] [--hz 1000] [--burst-ms 300]
 *            [--rest-ms 800] [--wait-ms 1500] [--device SINK]
 * Uses $DISPLAY and the usual PulseAudio variables. Prints a line per burst and then
 * "median D ms over N bursts"; exits 1 when half the bursts or more showed nothing.
 */
#define _DEFAULT_SOURCE

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <math.h>
#include <pthread.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { Rate = 48000, ChunkFrames = Rate / 100 /* 10 ms */ };

static int64_t nowMicros(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

struct Watch {
  Display* display;
  int x, y;
  unsigned long restColour;
  atomic_int stop;
  atomic_llong changedAt;  /* when the pixel last left its resting colour; 0: resting */
  atomic_llong restingSince;
  atomic_llong reads;
};

static unsigned long readPixel(struct Watch* w) {
  XImage* image = XGetImage(w->display, DefaultRootWindow(w->display), w->x, w->y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return ~0ul;
  const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
  XDestroyImage(image);
  return pixel;
}

static void* watchPixel(void* arg) {
  struct Watch* w = arg;
  const struct timespec pause = {0, 500000};
  while (!atomic_load(&w->stop)) {
    const unsigned long pixel = readPixel(w);
    const int64_t t = nowMicros();
    atomic_fetch_add(&w->reads, 1);
    if (pixel != w->restColour) {
      if (atomic_load(&w->changedAt) == 0) atomic_store(&w->changedAt, t);
      atomic_store(&w->restingSince, 0);
    } else {
      atomic_store(&w->changedAt, 0);
      if (atomic_load(&w->restingSince) == 0) atomic_store(&w->restingSince, t);
    }
    nanosleep(&pause, NULL);
  }
  return NULL;
}

static int compareDoubles(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static int argInt(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (strcmp(argv[i], name) == 0) return atoi(argv[i + 1]);
  }
  return fallback;
}

static const char* argText(int argc, char** argv, const char* name) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (strcmp(argv[i], name) == 0) return argv[i + 1];
  }
  return NULL;
}

int main(int argc, char** argv) {
  const int x = argInt(argc, argv, "--x", -1), y = argInt(argc, argv, "--y", -1);
  const int bursts = argInt(argc, argv, "--bursts", 15);
  const int hz = argInt(argc, argv, "--hz", 1000);
  const int burstMillis = argInt(argc, argv, "--burst-ms", 300);
  const int restMillis = argInt(argc, argv, "--rest-ms", 800);
  const int waitMillis = argInt(argc, argv, "--wait-ms", 1500);
  const char* device = argText(argc, argv, "--device");
  if (x < 0 || y < 0 || bursts < 1 || bursts > 1000) {
    fprintf(stderr, "usage: %s --x X --y Y [--bursts 15] [--hz 1000] [--burst-ms 300] [--rest-ms 800] "
                    "[--wait-ms 1500] [--device SINK]\n", argv[0]);
    return 2;
  }
  if (!XInitThreads()) return 1;
  struct Watch w = {.x = x, .y = y};
  w.display = XOpenDisplay(NULL);
  if (!w.display) {
    fprintf(stderr, "cannot open the display\n");
    return 1;
  }

  const pa_sample_spec format = {PA_SAMPLE_S16LE, Rate, 1};
  /* A short queue, so that the latency is mostly the output's own. */
  const pa_buffer_attr attr = {(uint32_t)-1, ChunkFrames * 2 * 2, (uint32_t)-1, (uint32_t)-1, (uint32_t)-1};
  int error = 0;
  pa_simple* player = pa_simple_new(NULL, "sound_to_pixel", PA_STREAM_PLAYBACK, device, "bursts", &format, NULL,
                                    &attr, &error);
  if (!player) {
    fprintf(stderr, "cannot play: %s\n", pa_strerror(error));
    return 1;
  }
  int16_t silence[ChunkFrames];
  memset(silence, 0, sizeof silence);
  const int burstChunks = burstMillis / 10;
  int16_t* tone = malloc(sizeof(int16_t) * ChunkFrames * (size_t)burstChunks);
  for (int i = 0; i < ChunkFrames * burstChunks; ++i) {
    tone[i] = (int16_t)(16000 * sin(2 * M_PI * hz * i / Rate));
  }
  /* A second of silence playing first, and the pixel's resting colour read then. */
  for (int i = 0; i < 100; ++i) pa_simple_write(player, silence, sizeof silence, &error);
  w.restColour = readPixel(&w);
  pthread_t watcher;
  pthread_create(&watcher, NULL, watchPixel, &w);

  double* delays = calloc((size_t)bursts, sizeof(double));
  int seen = 0, missed = 0;
  for (int n = 0; n < bursts; ++n) {
    /* Silence until the pixel has rested long enough (at most 10 s). */
    for (int i = 0; i < 1000; ++i) {
      const int64_t since = atomic_load(&w.restingSince);
      if (since != 0 && nowMicros() - since >= (int64_t)restMillis * 1000) break;
      pa_simple_write(player, silence, sizeof silence, &error);
    }
    const pa_usec_t latency = pa_simple_get_latency(player, &error);
    const int64_t start = nowMicros() + (int64_t)latency;
    for (int c = 0; c < burstChunks; ++c) {
      if (pa_simple_write(player, tone + c * ChunkFrames, sizeof silence, &error) < 0) {
        fprintf(stderr, "cannot play: %s\n", pa_strerror(error));
        return 1;
      }
    }
    int64_t changed = 0;
    while (nowMicros() < start + (int64_t)waitMillis * 1000) {
      changed = atomic_load(&w.changedAt);
      if (changed >= start - 50000) break;  /* earlier than that is not this burst's */
      changed = 0;
      pa_simple_write(player, silence, sizeof silence, &error);
    }
    if (changed) {
      delays[seen++] = (double)(changed - start) / 1000.0;
      printf("burst %2d: %7.1f ms (latency of the player %.1f ms)\n", n + 1, delays[seen - 1], latency / 1000.0);
    } else {
      ++missed;
      printf("burst %2d: nothing seen within %d ms\n", n + 1, waitMillis);
    }
    fflush(stdout);
  }
  atomic_store(&w.stop, 1);
  pthread_join(watcher, NULL);
  pa_simple_drain(player, &error);
  pa_simple_free(player);
  XCloseDisplay(w.display);
  if (seen == 0 || missed * 2 >= bursts) {
    printf("too few bursts seen (%d of %d)\n", seen, bursts);
    return 1;
  }
  qsort(delays, (size_t)seen, sizeof(double), compareDoubles);
  const double median = seen % 2 ? delays[seen / 2] : (delays[seen / 2 - 1] + delays[seen / 2]) / 2;
  printf("median %.1f ms over %d bursts (%.1f .. %.1f); %lld pixel reads\n", median, seen, delays[0],
         delays[seen - 1], (long long)atomic_load(&w.reads));
  free(delays);
  free(tone);
  return 0;
}
