/* Requests of the test-only hid.dll to the server of a simulated device (HidPipeServer) about
 * what Windows' HID class driver keeps per handle: the number of input buffers.
 *
 * A request is one message written through the handle it is about, so the server knows which
 * handle asks. It starts with a marker whose first byte, 0xFF, is a report ID the simulated
 * displays never use, and has a length no output report has, so it cannot be taken for an
 * output report. The answer cannot come back through the handle, whose reads belong to the
 * driver: it goes to a named file mapping of a HidSimAnswer, and the named event
 * "<answer>-done" is set when it is there. */
#ifndef ZOL_HIDSIM_CONTROL_H
#define ZOL_HIDSIM_CONTROL_H

#define HIDSIM_CONTROL_MARKER "\xFFzolhidsim-ctrl" /* 16 bytes with its terminating zero */
#define HIDSIM_CONTROL_ANSWER_NAME 64

/* The limits Windows documents for HidD_SetNumInputBuffers, and its default. */
#define HIDSIM_MIN_INPUT_BUFFERS 2
#define HIDSIM_MAX_INPUT_BUFFERS 512
#define HIDSIM_DEFAULT_INPUT_BUFFERS 32

enum { HIDSIM_SET_INPUT_BUFFERS = 1, HIDSIM_GET_INPUT_BUFFERS = 2 };

typedef struct {
  char marker[16];
  unsigned int operation;
  unsigned int value; /* the number to set */
  char answer[HIDSIM_CONTROL_ANSWER_NAME];
  char padding[8]; /* 96 bytes in all */
} HidSimControl;

typedef struct {
  unsigned int ok;
  unsigned int value; /* the number of input buffers after the request */
} HidSimAnswer;

#endif
