#!/usr/bin/env python3
"""Two pseudo-terminals joined like a null-modem cable: what one's slave is
written goes out of the other's slave. Prints the two slave paths on one line,
then relays until stopped. The slaves are left to the programs: one held here
would show as held by another program to the search."""
import os, pty, select, time, tty

a_master, a_slave = pty.openpty()
b_master, b_slave = pty.openpty()
for fd in (a_master, b_master):
    tty.setraw(fd)
print(os.ttyname(a_slave), os.ttyname(b_slave), flush=True)
os.close(a_slave)
os.close(b_slave)
peer = {a_master: b_master, b_master: a_master}
while True:
    ready, _, _ = select.select(list(peer), [], [])
    for fd in ready:
        try:
            data = os.read(fd, 4096)
        except OSError:
            # No one has this slave open at the moment: look again a little later.
            time.sleep(0.05)
            data = b""
        if data:
            os.write(peer[fd], data)
