-- The demo's sample data: text with commas and quotes, whole and decimal numbers, dates.
CREATE TABLE stock (id INTEGER, name VARCHAR(40), price DECIMAL(8,2), added DATE);
INSERT INTO stock VALUES (1, 'Quill, goose feather', 2.50, '2026-01-05');
INSERT INTO stock VALUES (2, 'Ink "Midnight" blue', 7.25, '2026-02-11');
INSERT INTO stock VALUES (3, 'Blotting paper', 1.10, '2026-03-20');
INSERT INTO stock VALUES (4, 'Sealing wax', 3, '2026-04-02');
