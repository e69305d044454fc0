#!/bin/sh
# Runs the whole show's scene part on the shipped timeline at 60 frames per
# second under Xvfb and writes a contact sheet of a frame every 16 rows from
# row 256 (build/scene_contact_sheet.png). Takes several minutes; exits 0 when
# every node transform stayed finite.
set -e
cd "$(dirname "$0")/.."
cmake --build build --target physics_show_run
xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" build/tests/physics/physics_show_run build/scene_contact_sheet.png
