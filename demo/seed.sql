-- The sample database of the banking demonstration: clients (Komitent) and their accounts
-- (Racun).  Numbers are assigned by the database.
BEGIN TRANSACTION;

CREATE TABLE Komitent (
  idKom INTEGER PRIMARY KEY AUTOINCREMENT,
  Naziv TEXT NOT NULL,
  Adresa TEXT NOT NULL
);

CREATE TABLE Racun (
  idRac INTEGER PRIMARY KEY AUTOINCREMENT,
  Stanje INTEGER NOT NULL DEFAULT 0,
  Status TEXT NOT NULL DEFAULT 'aktivan',
  idKom INTEGER NOT NULL REFERENCES Komitent(idKom)
);

INSERT INTO Komitent (Naziv, Adresa) VALUES
  ('Petar Petrovic', 'Lipova 39'),
  ('Milica Jovanovic', 'Bulevar oslobodjenja 12'),
  ('Jovan Petrovic', 'Lipova 39'),
  ('Ana Nikolic', 'Knez Mihailova 5'),
  ('Marko Ilic', 'Cara Dusana 101');

INSERT INTO Racun (Stanje, Status, idKom) VALUES
  (1000, 'aktivan', 1),
  (500, 'aktivan', 2),
  (2500, 'aktivan', 3),
  (0, 'blokiran', 4),
  (750, 'aktivan', 1);

COMMIT;
