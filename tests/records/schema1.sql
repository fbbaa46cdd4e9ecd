-- A records file as the first schema's program wrote it: one board, one calibration of DAC C.
CREATE TABLE boards (
 id INTEGER PRIMARY KEY,
 identity TEXT NOT NULL UNIQUE,
 kind TEXT NOT NULL CHECK (kind IN ('serial', 'port')),
 name TEXT NOT NULL DEFAULT '',
 added_utc TEXT NOT NULL);
CREATE TABLE calibrations (
 id INTEGER PRIMARY KEY,
 board INTEGER NOT NULL REFERENCES boards (id),
 channel INTEGER NOT NULL CHECK (channel BETWEEN 0 AND 3),
 time_utc TEXT NOT NULL,
 due_utc TEXT NOT NULL,
 meter TEXT NOT NULL,
 settings TEXT NOT NULL,
 coefficients TEXT NOT NULL,
 correction TEXT NOT NULL,
 residuals TEXT NOT NULL,
 uncertainty TEXT NOT NULL,
 program TEXT NOT NULL);
CREATE INDEX calibrations_in_force ON calibrations (board, channel, time_utc);
INSERT INTO boards VALUES (1, '1-2.3', 'port', 'first bench', '2025-01-01T08:00:00.000Z');
INSERT INTO calibrations VALUES (1, 1, 2, '2025-01-01T09:00:00.000Z', '2026-01-01T09:00:00.000Z',
 'ACME,DMM,7,2', '{"points":33}',
 '{"vref_v":5,"offset_v":0.0021,"slope_v":7.6140e-05,"gain_error_pct":-0.2,"lowest_code":0,"highest_code":65535}',
 '[[0,1e-05],[32768,-2e-05],[65535,4e-05]]', '[[0,null],[32768,3e-06],[65535,null]]',
 '{"noise_v":1e-06,"resolution_v":5e-10,"interpolation_v":3e-06,"accuracy_pct":0,"accuracy_v":0}',
 'tx4410-cli 1.0.0');
PRAGMA user_version = 1;
