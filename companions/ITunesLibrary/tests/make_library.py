#!/usr/bin/env python3
"""Writes a small media library in the player's XML export layout.

Usage: make_library.py OUTPUT
"""
import datetime
import plistlib
import sys

LOCATIONS = {
    1: "file://localhost/C:/Music/a%20b.mp3",
    2: "file://localhost/C:/Musik/%C3%84rger%20&%20%CE%A9/Stra\u00dfe \u00c4 \u03a9 \u266b.m4a",
    3: "http://radio.example.com/live%20stream.mp3",
    5: "file://localhost/D:/Video/film.m4v",
}


def main():
    tracks = {}
    for track_id in (1, 2, 3, 4, 5):
        track = {
            "Track ID": track_id,
            "Name": f"Track {track_id} \u00e9",
            "Persistent ID": f"{track_id:016X}",
            "Date Added": datetime.datetime(2020, 1, 2, 3, 4, 5),
            "Total Time": 180000 + track_id,
        }
        if track_id in LOCATIONS:
            track["Location"] = LOCATIONS[track_id]
        tracks[str(track_id)] = track
    library = {
        "Major Version": 1,
        "Minor Version": 1,
        "Application Version": "12.10.11.2",
        "Music Folder": "file://localhost/C:/Users/u/Music/iTunes/iTunes%20Media/",
        "Tracks": tracks,
        "Playlists": [
            {"Name": "Library", "Master": True, "Playlist Items": [{"Track ID": i} for i in (1, 2, 3, 4, 5)]},
            {"Name": "Mix", "Playlist Items": [{"Track ID": 1}, {"Track ID": 2}, {"Track ID": 1}]},
            {"Name": "Empty"},
        ],
    }
    with open(sys.argv[1], "wb") as out:
        plistlib.dump(library, out, fmt=plistlib.FMT_XML)


if __name__ == "__main__":
    main()
