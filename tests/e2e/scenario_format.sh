# With no drive listed the program says so; About and help open and close;
# Utilities, "Open Disk Image..." adds a blank 1.44 MB image through the
# file dialog, and the Format dialog refuses a missing drive, then formats
# the image as a Mac diskette under the progress window. With settings
# saved, the image stays listed in KVOL.INI.
main=class:KvolClass
blank="$OUT/format-blank.img"
rm -f "$blank"
truncate -s 1474560 "$blank"
e2e_folder format </dev/null

e2e_start
expect_window Error
e2e_shot format-no-drives
click Error 1                           # the box is up before the window: a click gives it the keys

expect_window Verrin

key alt+h a
expect_window "About Verrin"
e2e_shot template-about
key Return
expect_no_window "About Verrin"

key F1
expect_window Help
e2e_shot format-help-missing
key Return

key alt+u i
expect_window "Open Disk Image"
e2e_shot template-open-image
type_text "$(e2e_winpath "$blank")"
key Return
expect_no_window "Open Disk Image"
expect_eq "$(spy combo $main 117)" "format-blank.img" "Mac drive box after Open Disk Image"

key alt+u f
expect_window "Format Mac Disk"
e2e_shot template-format
key Return                              # OK with no drive chosen
expect_window "No Drive Selected"
key Return
click "Format Mac Disk" 117             # drops the drive list
key End Return
click "Format Mac Disk" 300
key End shift+Home
type_text "Fresh Disk"
e2e_shot format-filled
key Return
expect_window "WARNING!"
e2e_shot format-warning
key Return
expect_no_window "WARNING!" 20
expect_no_window "Formatting" 20
e2e_shot format-done
key alt+o s                             # Save Settings on Exit: the opened image is kept
key Escape
e2e_wait_end
expect_contains "$(tr -d '\r' < "$E2E_DIR/KVOL.INI")" "Image1=$(e2e_winpath "$blank")" "image list saved"

info=$("$CLI" info "$blank") || e2e_fail "the formatted image has no volume"
expect_contains "$info" "Fresh Disk" "volume name"
"$CLI" check "$blank" >/dev/null || e2e_fail "the formatted volume does not pass the check"
