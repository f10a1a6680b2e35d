# The window opens with the Mac side active and the image of the settings
# file in the "Mac Drive:" box; a click in the PC list makes the PC side
# active; Escape ends the program; the sort order and the switches survive a
# restart with "Save Settings on Exit" on, and with it off only "SavePrefs"
# is written.
main=class:KvolClass
image="$OUT/window-sample.img"
e2e_sample_image "$image"
e2e_folder_with_image window "$image"

e2e_start
e2e_shot window-start
expect_eq "$(spy enabled $main 110)$(spy enabled $main 105)$(spy enabled $main 108)" 000 "PC labels grey"
expect_eq "$(spy enabled $main 118)$(spy enabled $main 113)$(spy enabled $main 116)" 111 "Mac labels"
# The buttons' captions come from the same table as the File menu's texts.
expect_eq "$(spy text $main 5000)|$(spy text $main 5003)" "&Copy From Mac|Mac Item &Info" "Mac side commands"
key alt+s
e2e_shot window-sort-menu-mac
key Escape Escape
expect_contains "$(spy combo $main 117)" "window-sample.img" "Mac drive box"

click $main 111
expect_eq "$(spy enabled $main 110)$(spy enabled $main 118)" 10 "labels after a click in the PC list"
expect_eq "$(spy text $main 5001)|$(spy text $main 5002)" "&New PC Directory|&Delete From PC" "PC side commands"
key alt+f
e2e_shot window-file-menu-pc
key Escape Escape

key alt+s e          # Sort By Ext
click $main 119      # Mac side
key alt+s c          # Sort By Crtr
key alt+o s          # Save Settings on Exit
key alt+o d          # Display Settings Before Copy: off
key Escape
e2e_wait_end
ini=$(tr -d '\r' < "$E2E_DIR/KVOL.INI")
expect_contains "$ini" "SavePrefs=YES" "saved switch"
expect_contains "$ini" "PCSort=251" "saved PC sort"
expect_contains "$ini" "MacSort=252" "saved Mac sort"
expect_contains "$ini" "CopyPrefs=NO" "saved toggle"
expect_contains "$ini" "Image1=" "image list kept"

e2e_start
key alt+o
e2e_shot window-options-restarted
key Escape Escape
click $main 111
key alt+s
e2e_shot window-sort-menu-pc-restarted
key Escape Escape
cp "$E2E_DIR/KVOL.INI" "$E2E_DIR/KVOL.before"
key alt+o s          # Save Settings on Exit: off
key alt+s d          # a change that must not be saved
key Escape
e2e_wait_end
diff <(tr -d '\r' < "$E2E_DIR/KVOL.before" | grep -v '^SavePrefs=') \
     <(tr -d '\r' < "$E2E_DIR/KVOL.INI" | grep -v '^SavePrefs=') >/dev/null ||
    e2e_fail "keys other than SavePrefs changed with saving off"
expect_contains "$(tr -d '\r' < "$E2E_DIR/KVOL.INI")" "SavePrefs=NO" "SavePrefs written off"
