# Works on single items on both sides: on the Mac a new folder, a file
# renamed with a new type and creator, a folder tree deleted; on the PC a
# new directory, a file renamed, a directory tree deleted. A typed letter
# jumps to the next entry starting with it. Checked with verrin-cli and the
# file system. Folders open with a double click and close with "..", and a
# long PC name brings the name column's scroll bar.
main=class:KvolClass
image="$OUT/items-sample.img"
e2e_sample_image "$image"
e2e_folder_with_image items "$image"
pc="$E2E_DIR/pc"
printf 'a\r\n' > "$pc/draft.txt"
mkdir -p "$pc/old/deeper"
touch "$pc/old/a file name of exactly fifty characters, to scroll"
printf 'b\r\n' > "$pc/old/deeper/kept.txt"

e2e_start
e2e_open_first_volume                    # Documents, Read Me

# Mac: a new folder.
click_row $main 119 0
key alt+n
expect_window "Create Mac Folder"
e2e_shot template-createfld
type_text "Projects"
key Return
expect_no_window "Create Mac Folder"
expect_eq "$(spy list $main 119)" "count 3 selected " "Documents, Projects, Read Me"

# Mac: "Read Me" gets a new name, type and creator. A typed r in the list
# jumps to it.
click_row $main 119 0
key r
expect_eq "$(spy list $main 119)" "count 3 selected 2" "the letter r selects Read Me"
key alt+i
expect_window "Mac File Information"
e2e_shot template-macinfo
key End shift+Home
type_text "Notes"
key Tab
type_text "ttro"
key Tab
type_text "R*ch"
key Return
expect_window "Change Mac File Info"
key Return                               # Yes
expect_no_window "Mac File Information"

# Mac: into Documents and out again.
dclick_row $main 119 0
expect_eq "$(spy combo $main 114 | head -1)" "> Documents" "folder box after opening Documents"
click $main 115
expect_eq "$(spy combo $main 114 | head -1)" "> Sample Disk" "folder box after .."

# Mac: the folder tree Documents:Letters:Letter goes.
click_row $main 119 0
key alt+i
expect_window "Mac Folder Information"
e2e_shot template-macfldrinfo
key Escape
click_row $main 119 0
key alt+d
expect_window WARNING
key Return
expect_window "Ready to delete files from Mac disk"
key Return
expect_no_window "Ready to delete files from Mac disk"
sleep 1
e2e_shot items-mac-done

# PC: a new directory, a renamed file, a deleted tree. The list starts
# with the directories: old, then draft.txt.
click_row $main 111 1
key alt+n
expect_window "Create PC Directory"
e2e_shot template-createdir
type_text "made"
key Return
expect_no_window "Create PC Directory"
click_row $main 111 2                    # made, old, draft.txt
key alt+i
expect_window "PC File Information"
e2e_shot template-dosinfo
key End shift+Home
type_text "final.txt"
key Return
expect_window "Rename PC File"
key Return
expect_no_window "PC File Information"
dclick_row $main 111 1                   # into old: the long name scrolls
expect_eq "$(spy visible $main 112)" 1 "scroll bar for a long name"
e2e_shot items-long-name
click $main 107
expect_eq "$(spy visible $main 112)" 0 "no scroll bar for short names"
click_row $main 111 1                    # made, old, final.txt
key alt+i
expect_window "PC Directory Information"
e2e_shot template-dosdirinfo
key Escape
click_row $main 111 1
key alt+d
expect_window WARNING
key Return
expect_window "Ready to delete files from PC disk"
key Return
expect_no_window "Ready to delete files from PC disk"
sleep 1
e2e_shot items-pc-done
key Escape
e2e_wait_end

listing=$("$CLI" ls -l "$image")
expect_contains "$listing" "ttro/R*ch" "new type and creator"
expect_contains "$(grep ttro <<<"$listing")" "Notes" "new name"
grep -q Documents <<<"$listing" && e2e_fail "the Documents tree is still there"
expect_contains "$listing" "Projects" "new folder"
"$CLI" check "$image" >/dev/null || e2e_fail "the volume does not pass the check"
[ -d "$pc/made" ] || e2e_fail "no new PC directory"
[ -f "$pc/final.txt" ] && [ ! -e "$pc/draft.txt" ] || e2e_fail "the PC file was not renamed"
[ ! -e "$pc/old" ] || e2e_fail "the PC tree is still there"
