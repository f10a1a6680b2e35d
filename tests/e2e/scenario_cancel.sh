# A long copy to the Mac is cancelled from the progress window: the window
# closes without a message, the main window's title is "Verrin" again, and
# the volume holds no part of the file and passes the check.
main=class:KvolClass
image="$OUT/cancel-disk.img"
rm -f "$image"
# The copy must outlast the clicks below: a 1.5 GB file (sparse, so it is
# made at once) takes seconds where 150 MB now goes in well under one.
"$CLI" format "$image" --name "Big Disk" --size 2000M >/dev/null
e2e_folder_with_image cancel "$image"
truncate -s 1500M "$E2E_DIR/pc/large.bin"

e2e_start
e2e_open_first_volume
click_row $main 111 0
e2e_copy "PC to Mac" d
expect_window "Copying from PC to Mac"
sleep 0.5
e2e_shot template-progress
expect_contains "$(spy text $main 0)" "Verrin " "percentage in the main window's title"
click "Copying from PC to Mac" 2
expect_no_window "Copying from PC to Mac" 30
spy wait Error 1 && e2e_fail "a message followed the cancel"
expect_eq "$(spy text $main 0)" "Verrin" "title after the progress window closed"
e2e_shot cancel-done
key Escape
e2e_wait_end

grep -q "large.bin" <<<"$("$CLI" ls "$image")" && e2e_fail "part of the cancelled file is on the volume"
"$CLI" check "$image" >/dev/null || e2e_fail "the volume does not pass the check"
rm -f "$image" "$E2E_DIR/pc/large.bin"
