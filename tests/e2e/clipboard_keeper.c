/* A minimal clipboard manager for the end-to-end tests: it owns the
 * CLIPBOARD_MANAGER selection, and when a program that owns the clipboard
 * asks it to save the clipboard (SAVE_TARGETS, as toolkits do when they
 * exit), it copies the image/png data and from then on serves it as the
 * owner of CLIPBOARD. Prints "ready" once it manages. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xcb/xcb.h>

static xcb_connection_t* c;
static xcb_window_t win;

static xcb_atom_t Atom(const char* name) {
  xcb_intern_atom_reply_t* r =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, (uint16_t)strlen(name), name), NULL);
  xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
  free(r);
  return a;
}

/* Waits for the next event of one type (others are dropped: nothing else
 * happens while the keeper copies). */
static xcb_generic_event_t* WaitFor(uint8_t type) {
  xcb_generic_event_t* e;
  while ((e = xcb_wait_for_event(c))) {
    if ((e->response_type & 0x7F) == type) return e;
    free(e);
  }
  return NULL;
}

static unsigned char* data;
static size_t size;

static void Append(const void* bytes, size_t n) {
  data = realloc(data, size + n);
  memcpy(data + size, bytes, n);
  size += n;
}

/* Reads a property of our window (deleting it); true when it was INCR. */
static int TakeProperty(xcb_atom_t property, xcb_atom_t incr) {
  xcb_get_property_reply_t* r = xcb_get_property_reply(
      c, xcb_get_property(c, 1, win, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0x1FFFFFFF), NULL);
  if (!r) return 0;
  const int isIncr = r->type == incr;
  if (!isIncr) Append(xcb_get_property_value(r), (size_t)xcb_get_property_value_length(r));
  free(r);
  xcb_flush(c);
  return isIncr;
}

static void Fetch(xcb_atom_t clipboard, xcb_atom_t png, xcb_atom_t property, xcb_atom_t incr,
                  xcb_timestamp_t time) {
  free(data);
  data = NULL;
  size = 0;
  xcb_convert_selection(c, win, clipboard, png, property, time);
  xcb_flush(c);
  xcb_selection_notify_event_t* n = (xcb_selection_notify_event_t*)WaitFor(XCB_SELECTION_NOTIFY);
  if (!n) return;
  const int ok = n->property != XCB_ATOM_NONE;
  free(n);
  if (!ok || !TakeProperty(property, incr)) return;
  for (;;) { /* INCR: chunks until an empty one */
    xcb_property_notify_event_t* p = (xcb_property_notify_event_t*)WaitFor(XCB_PROPERTY_NOTIFY);
    if (!p) return;
    const int chunk = p->atom == property && p->state == XCB_PROPERTY_NEW_VALUE;
    free(p);
    if (!chunk) continue;
    const size_t before = size;
    TakeProperty(property, incr);
    if (size == before) return;
  }
}

static void Notify(const xcb_selection_request_event_t* req, xcb_atom_t property) {
  xcb_selection_notify_event_t n;
  memset(&n, 0, sizeof n);
  n.response_type = XCB_SELECTION_NOTIFY;
  n.time = req->time;
  n.requestor = req->requestor;
  n.selection = req->selection;
  n.target = req->target;
  n.property = property;
  xcb_send_event(c, 0, req->requestor, XCB_EVENT_MASK_NO_EVENT, (const char*)&n);
  xcb_flush(c);
}

int main(void) {
  c = xcb_connect(NULL, NULL);
  if (xcb_connection_has_error(c)) return 1;
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  win = xcb_generate_id(c);
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(c, 0, win, screen->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    screen->root_visual, XCB_CW_EVENT_MASK, &mask);
  const xcb_atom_t manager = Atom("CLIPBOARD_MANAGER"), clipboard = Atom("CLIPBOARD"),
                   save = Atom("SAVE_TARGETS"), targets = Atom("TARGETS"),
                   png = Atom("image/png"), incr = Atom("INCR"), mine = Atom("KEEPER_DATA");
  xcb_set_selection_owner(c, win, manager, XCB_CURRENT_TIME);
  xcb_get_selection_owner_reply_t* owner =
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, manager), NULL);
  if (!owner || owner->owner != win) return 1;
  free(owner);
  printf("ready\n");
  fflush(stdout);

  xcb_generic_event_t* e;
  while ((e = xcb_wait_for_event(c))) {
    if ((e->response_type & 0x7F) == XCB_SELECTION_REQUEST) {
      const xcb_selection_request_event_t* req = (const xcb_selection_request_event_t*)e;
      xcb_atom_t answered = XCB_ATOM_NONE;
      if (req->selection == manager && req->target == save) {
        Fetch(clipboard, png, mine, incr, req->time);
        printf("saved %zu bytes\n", size);
        fflush(stdout);
        xcb_set_selection_owner(c, win, clipboard, XCB_CURRENT_TIME);
        answered = req->property;
      } else if (req->selection == clipboard && req->target == targets) {
        const xcb_atom_t offered[] = {targets, png};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, req->property,
                            XCB_ATOM_ATOM, 32, 2, offered);
        answered = req->property;
      } else if (req->selection == clipboard && req->target == png && data) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, req->requestor, req->property, png, 8,
                            (uint32_t)size, data);
        answered = req->property;
      }
      Notify(req, answered);
    }
    free(e);
  }
  return 0;
}
